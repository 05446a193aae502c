#include "os/dir_lock.h"

#include <memory>
#include <string>

#include "os/file_id_win.h"
#include "os/handle_fd_win.h"
#include "os/interrupt.h"
#include "os/local_free_win.h"
#include "os/unique_handle_win.h"

#include <sddl.h>

namespace tessaro {

namespace {

// Who may wait on a directory's lock: every signed-in user (each waits no longer than its
// bound); the system and administrators fully.
constexpr wchar_t kLockSecurity[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;AU)";

std::wstring Hex(uint64_t value) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text(16, L'0');
    for (int i = 15; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    return text;
}

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

}  // namespace

DirLock::DirLock(int dirFd, std::chrono::milliseconds bound) : dirFd_(dirFd) {
    const std::optional<HandleInfo> info = InfoOfHandle(HandleOf(dirFd));
    UniqueHandle mutex = info ? DirectoryMutex(DirIdOf(*info)) : UniqueHandle();
    if (!mutex) return;  // no lock to be had: the run goes on unlocked
    const HANDLE waits[2] = {mutex.get(), static_cast<HANDLE>(InterruptEvent())};
    const auto wait = static_cast<DWORD>(std::min<int64_t>(bound.count(), INFINITE - 1));
    const DWORD woke = WaitForMultipleObjects(waits[1] ? 2 : 1, waits, FALSE, wait);
    // A mutex left by a run that died is abandoned, and now ours.
    if (woke == WAIT_OBJECT_0 || woke == WAIT_ABANDONED_0) {
        mutex_ = reinterpret_cast<std::intptr_t>(mutex.release());
        state_ = LockState::held;
    } else if (woke == WAIT_OBJECT_0 + 1) {
        state_ = LockState::interrupted;
    } else {
        state_ = LockState::busy;
    }
}

DirLock::~DirLock() {
    if (state_ != LockState::held) return;
    const UniqueHandle mutex(reinterpret_cast<HANDLE>(mutex_));
    ReleaseMutex(mutex.get());
}

}  // namespace tessaro
