// Deleting tiles on Windows: a tile is opened relative to its directory, checked through that
// handle, and that very handle is marked for deletion, so a file renamed into the tile's place
// is never deleted. A tile another program holds open without sharing deletion, or a read-only
// one, cannot be marked: it stays. The journal is written to a temporary file, flushed, and
// renamed into place through its handle.
#include <algorithm>
#include <cerrno>
#include <string_view>

#include "group/tile_journal.h"
#include "group/tile_removal_internal.h"
#include "os/file_id_win.h"
#include "os/handle_fd_win.h"
#include "os/nt_file_win.h"
#include "os/pinned_dir.h"

namespace tessaro::removal_internal {

namespace {

// The most one WriteFile or ReadFile call is asked to move; a journal is far smaller.
constexpr DWORD kMaxChunk = 1u << 20;

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kMaxChunk));
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace

bool RemoveExactly(int dirFd, std::size_t, const TileRecord& tile, bool decodedNow) {
    const UniqueHandle file = OpenRelative(
        HandleOf(dirFd), tile.name,
        {DELETE | FILE_READ_ATTRIBUTES, FILE_OPEN, FILE_OPEN_REPARSE_POINT | FILE_NON_DIRECTORY_FILE});
    if (!file) return errno == ENOENT;
    const std::optional<HandleInfo> info = InfoOfHandle(file.get());
    if (!info || !Matches(info->id, tile.atName, decodedNow) || !MarkForDeletion(file.get()))
        return false;
    PauseForTest("deleted");
    return true;
}

bool WriteJournalFile(int dirFd, const std::string& bytes) {
    const HANDLE dir = HandleOf(dirFd);
    const UniqueHandle file =
        OpenRelative(dir, kNewJournalName,
                     {GENERIC_WRITE | DELETE, FILE_CREATE, FILE_NON_DIRECTORY_FILE, 0,
                      FILE_ATTRIBUTE_HIDDEN});
    if (!file) return false;
    if (WriteAll(file.get(), bytes) && FlushFileBuffers(file.get()) &&
        RenameByHandle(file.get(), dir, kJournalName, true))
        return true;
    MarkForDeletion(file.get());
    return false;
}

std::optional<std::string> ReadTrustedFile(int dirFd, const std::string& name) {
    const UniqueHandle file =
        OpenRelative(HandleOf(dirFd), name,
                     {GENERIC_READ, FILE_OPEN, FILE_OPEN_REPARSE_POINT | FILE_NON_DIRECTORY_FILE});
    const std::optional<HandleInfo> info = file ? InfoOfHandle(file.get()) : std::nullopt;
    if (!info || TypeOf(*info) != EntryType::regularFile ||
        (info->attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info->linkCount != 1 ||
        info->id.size > static_cast<int64_t>(kMaxJournalBytes) || !OwnedByRunningUser(file.get())) {
        if (file) errno = EACCES;  // there, but not to be trusted
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(info->id.size), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        DWORD read = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - got, kMaxChunk));
        if (!ReadFile(file.get(), bytes.data() + got, chunk, &read, nullptr) || read == 0)
            return std::nullopt;
        got += read;
    }
    return bytes;
}

}  // namespace tessaro::removal_internal
