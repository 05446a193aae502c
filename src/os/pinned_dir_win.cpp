#include "os/pinned_dir.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "os/file_id_win.h"
#include "os/handle_fd_win.h"
#include "os/interrupt.h"
#include "os/nt_file_win.h"

#include <sddl.h>

extern "C" NTSTATUS NTAPI NtSuspendProcess(HANDLE process);

namespace tessaro {

namespace {

// Who may wait on a directory's lock: every signed-in user, as every user who can read a
// directory can lock it on Linux; the system and administrators fully.
constexpr wchar_t kLockSecurity[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;AU)";

std::wstring Hex(uint64_t value) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text(16, L'0');
    for (int i = 15; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    return text;
}

struct LocalFreeDeleter {
    void operator()(void* memory) const { LocalFree(memory); }
};

// The mutex standing for the directory: in the global namespace where it may be created or
// opened, else in the session's.
UniqueHandle DirectoryMutex(const DirId& id) {
    const std::wstring name = L"tessaro-dir-" + Hex(id.dev) + L"-" + Hex(id.ino);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockSecurity, SDDL_REVISION_1,
                                                         &descriptor, nullptr);
    const std::unique_ptr<void, LocalFreeDeleter> release(descriptor);
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    constexpr DWORD kAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;
    for (const wchar_t* space : {L"Global\\", L"Local\\"}) {
        UniqueHandle mutex(CreateMutexExW(descriptor ? &security : nullptr,
                                          (space + name).c_str(), 0, kAccess));
        if (mutex) return mutex;
    }
    return UniqueHandle();
}

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

UniqueFd OpenPinnedDir(const std::string& path, const DirId& expected) {
    UniqueHandle dir = OpenDirectoryAt(path);
    const std::optional<HandleInfo> info = dir ? InfoOfHandle(dir.get()) : std::nullopt;
    if (!info || DirIdOf(*info) != expected) return UniqueFd();
    return FdOf(std::move(dir), _O_RDONLY);
}

DirLock::DirLock(int dirFd) {
    const std::optional<HandleInfo> info = InfoOfHandle(HandleOf(dirFd));
    UniqueHandle mutex = info ? DirectoryMutex(DirIdOf(*info)) : UniqueHandle();
    if (!mutex) return;  // no lock to be had: the run goes on unlocked
    const HANDLE waits[2] = {mutex.get(), static_cast<HANDLE>(InterruptEvent())};
    const DWORD woke = WaitForMultipleObjects(waits[1] ? 2 : 1, waits, FALSE, INFINITE);
    // A mutex left by a run that died is abandoned, and now ours.
    if (woke == WAIT_OBJECT_0 || woke == WAIT_ABANDONED_0) {
        holder_ = reinterpret_cast<std::intptr_t>(mutex.release());
        locked_ = true;
    } else if (woke == WAIT_OBJECT_0 + 1) {
        interrupted_ = true;
    }
}

DirLock::~DirLock() {
    if (!locked_) return;
    const UniqueHandle mutex(reinterpret_cast<HANDLE>(holder_));
    ReleaseMutex(mutex.get());
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
    static const char* const wanted = std::getenv("TESSARO_TEST_PAUSE");
    if (wanted != nullptr && std::strcmp(wanted, step) == 0) NtSuspendProcess(GetCurrentProcess());
}

}  // namespace tessaro
