#include <cerrno>
#include <cstdint>

#include "os/dir_listing.h"
#include "os/file_id_win.h"
#include "os/handle_fd_win.h"
#include "os/nt_file_win.h"
#include "os/wide_text_win.h"

namespace tessaro {

struct DirStreamState {
    UniqueHandle dir;
};

void DirStreamDeleter::operator()(DirStreamState* dir) const {
    std::default_delete<DirStreamState>()(dir);
}

namespace {

// Room for a few hundred entries per call.
constexpr std::size_t kListingBytes = 64 * 1024;

// Hands each entry the directory lists, "." and ".." included, to `take` (name and attributes),
// going on from where the handle's listing stands. Returns 0 at the end of the listing, else
// errno.
template <typename Take>
int ForEachListed(HANDLE dir, Take&& take) {
    std::vector<uint64_t> buffer(kListingBytes / sizeof(uint64_t));
    for (bool first = true;; first = false) {
        if (!GetFileInformationByHandleEx(dir, FileIdBothDirectoryInfo, buffer.data(), kListingBytes)) {
            const DWORD error = GetLastError();
            // Some file systems answer "no such file" when an empty directory is first listed.
            const bool end = error == ERROR_NO_MORE_FILES || (first && error == ERROR_FILE_NOT_FOUND);
            return end ? 0 : ErrnoOf(error);
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
        for (std::size_t at = 0;;) {
            const auto* item = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + at);
            take(Utf8FromWide({item->FileName, item->FileNameLength / sizeof(wchar_t)}),
                 item->FileAttributes);
            if (item->NextEntryOffset == 0) break;
            at += item->NextEntryOffset;
        }
    }
}

// What an entry the listing shows as a directory or a reparse point is, learnt through a handle
// of its own: a link is followed only where MayFollowLinkAt allows.
EntryKind KindByOpening(HANDLE dir, const std::string& name, DirId* id) {
    const UniqueHandle entry =
        OpenRelative(dir, name, {FILE_READ_ATTRIBUTES, FILE_OPEN, FILE_OPEN_REPARSE_POINT});
    std::optional<HandleInfo> info = entry ? InfoOfHandle(entry.get()) : std::nullopt;
    if (!info) return EntryKind::other;
    if (IsLink(*info)) {
        const UniqueHandle target =
            OpenRelative(dir, name, {FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_OPEN, 0});
        info = target ? InfoOfHandle(target.get()) : std::nullopt;
        FileId linkId;
        if (!info || !MayFollowLinkAt(dir, name, target.get(), &linkId)) return EntryKind::other;
    }
    *id = DirIdOf(*info);
    switch (TypeOf(*info)) {
        case EntryType::directory: return EntryKind::directory;
        case EntryType::regularFile: return EntryKind::regularFile;
        default: return EntryKind::other;
    }
}

}  // namespace

namespace {

DirStream StreamOf(UniqueHandle dir, DirId& id, int& error) {
    const std::optional<HandleInfo> info = dir ? InfoOfHandle(dir.get()) : std::nullopt;
    if (!info) {
        error = dir ? EIO : errno;
        return nullptr;
    }
    id = DirIdOf(*info);
    return DirStream(std::make_unique<DirStreamState>(DirStreamState{std::move(dir)}).release());
}

}  // namespace

DirStream OpenDirStream(const std::string& path, DirId& id, int& error) {
    return StreamOf(OpenDirectoryAt(path), id, error);
}

DirStream OpenDirStreamAt(const DirStreamState& from, std::string_view relPath, DirId& id, int& error) {
    if (relPath == "..") {
        error = EINVAL;  // no such name here: the walk reopens the level by its names instead
        return nullptr;
    }
    return StreamOf(OpenRelativePath(from.dir.get(), WideFromUtf8(relPath), kListingOpen), id, error);
}

// A plain file is known from the listing alone; a directory is opened to learn its identity, a
// reparse point to learn what it is.
int ReadDirStream(DirStreamState& stream, const EntryTaker& take) {
    const HANDLE dir = stream.dir.get();
    return ForEachListed(dir, [&](std::string&& name, DWORD attributes) {
        if (IsDotOrDotDot(name)) return;
        DirId id;
        EntryKind kind = EntryKind::regularFile;
        if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
            kind = KindByOpening(dir, name, &id);
        else if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0)
            kind = EntryKind::other;
        take(std::move(name), kind, id);
    });
}

}  // namespace tessaro
