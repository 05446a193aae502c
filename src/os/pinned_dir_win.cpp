#include "os/pinned_dir.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "os/file_id_win.h"
#include "os/handle_fd_win.h"
#include "os/nt_file_win.h"
#include "os/wide_text_win.h"
#include "os/interrupt.h"
#include "os/nt_file_win.h"
#include "os/test_hooks.h"


extern "C" NTSTATUS NTAPI NtSuspendProcess(HANDLE process);

namespace tessaro {

namespace {

// The status of an entry through a handle of its own (not following a link); its owner is read
// where the handle may read it, and a file whose owner may not be read is not the user's.
std::optional<EntryStatus> StatusAt(HANDLE dir, const std::string& name) {
    RelativeOpen look{FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_OPEN, FILE_OPEN_REPARSE_POINT};
    UniqueHandle entry = OpenRelative(dir, name, look);
    if (!entry && GetLastError() == ERROR_ACCESS_DENIED) {
        look.access = FILE_READ_ATTRIBUTES;
        entry = OpenRelative(dir, name, look);
    }
    const std::optional<HandleInfo> info = entry ? InfoOfHandle(entry.get()) : std::nullopt;
    if (!info) return std::nullopt;
    const bool owned = (look.access & READ_CONTROL) != 0 && OwnedByRunningUser(entry.get());
    return EntryStatus{TypeOf(*info), info->id, info->linkCount, owned};
}

}  // namespace

UniqueFd OpenPinnedDir(const std::string& path, std::size_t rootBytes, const DirId& expected) {
    UniqueHandle dir = OpenDirectoryAt(path.substr(0, rootBytes));
    if (dir && rootBytes + 1 < path.size()) {
        dir = OpenRelativePath(dir.get(), WideFromUtf8(std::string_view(path).substr(rootBytes + 1)),
                               kListingOpen);
    }
    const std::optional<HandleInfo> info = dir ? InfoOfHandle(dir.get()) : std::nullopt;
    if (!info || DirIdOf(*info) != expected) return UniqueFd();
    return FdOf(std::move(dir), _O_RDONLY);
}

std::optional<EntryStatus> StatEntry(int dirFd, const std::string& name) {
    return StatusAt(HandleOf(dirFd), name);
}

bool RemoveEntry(int dirFd, const std::string& name) {
    const UniqueHandle entry = OpenRelative(
        HandleOf(dirFd), name, {DELETE, FILE_OPEN, FILE_OPEN_REPARSE_POINT | FILE_NON_DIRECTORY_FILE});
    return entry && MarkForDeletion(entry.get());
}

bool RenameEntry(int dirFd, const std::string& from, const std::string& to, bool replace) {
    const HANDLE dir = HandleOf(dirFd);
    const UniqueHandle entry =
        OpenRelative(dir, from, {DELETE | FILE_READ_ATTRIBUTES, FILE_OPEN, FILE_OPEN_REPARSE_POINT});
    return entry && RenameByHandle(entry.get(), dir, to, replace);
}

bool LinkEntry(int dirFd, const std::string& from, const std::string& to) {
    const HANDLE dir = HandleOf(dirFd);
    const UniqueHandle entry = OpenRelative(
        dir, from, {FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_OPEN, FILE_NON_DIRECTORY_FILE});
    return entry && LinkByHandle(entry.get(), dir, to);
}

bool SyncDirectory(int) { return true; }

GuardedRemoval RemoveEntryIfStill(int dirFd, const std::string& name,
                                  const std::function<bool(const FileId&)>& stillIt) {
    const UniqueHandle entry = OpenRelative(
        HandleOf(dirFd), name,
        {DELETE | FILE_READ_ATTRIBUTES, FILE_OPEN, FILE_OPEN_REPARSE_POINT | FILE_NON_DIRECTORY_FILE});
    if (!entry) return errno == ENOENT ? GuardedRemoval::absent : GuardedRemoval::kept;
    const std::optional<HandleInfo> info = InfoOfHandle(entry.get());
    if (!info || !stillIt(info->id) || !MarkForDeletion(entry.get())) return GuardedRemoval::kept;
    PauseForTest("deleted");
    return GuardedRemoval::removed;
}

std::optional<OpenedTile> OpenTileAt(int dirFd, const std::string& name) {
    const HANDLE dir = HandleOf(dirFd);
    // Reading needs no right to the file's security; following a link does, to learn whose
    // file it reaches.
    RelativeOpen read{FILE_GENERIC_READ & ~static_cast<ACCESS_MASK>(READ_CONTROL), FILE_OPEN,
                      FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT};
    UniqueHandle file = OpenRelative(dir, name, read);
    std::optional<HandleInfo> info = file ? InfoOfHandle(file.get()) : std::nullopt;
    if (!info) return std::nullopt;
    FileId atName = info->id;
    if ((info->attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A link, or a file whose data a filter keeps elsewhere: opened again through it.
        read.options &= ~static_cast<ULONG>(FILE_OPEN_REPARSE_POINT);
        if (IsLink(*info)) read.access |= READ_CONTROL;
        UniqueHandle target = OpenRelative(dir, name, read);
        const std::optional<HandleInfo> reached = target ? InfoOfHandle(target.get()) : std::nullopt;
        if (!reached) return std::nullopt;
        if (IsLink(*info) ? !MayFollowLinkAt(dir, name, target.get(), &atName)
                          : DirIdOf(*reached) != DirIdOf(*info))
            return std::nullopt;
        file = std::move(target);
        info = reached;
    }
    if (TypeOf(*info) != EntryType::regularFile) return std::nullopt;
    OpenedTile tile{FdOf(std::move(file), _O_RDONLY), atName};
    if (!tile.fd) return std::nullopt;
    return tile;
}

void PauseForTest(const char* step) {
    static const std::string_view wanted = TestSetting(TestSwitch::pauseAt);
    if (!wanted.empty() && wanted == step) NtSuspendProcess(GetCurrentProcess());
}

}  // namespace tessaro
