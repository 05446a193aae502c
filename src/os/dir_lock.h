// One run at a time in a group's directory, whoever runs it, for no longer than a bound.
//
// On Linux the lock is an open-file-description write lock (fcntl F_OFD_SETLK) on the directory's
// lock file ".tessaro-lock". A write lock needs the file open for writing, and the file is made
// writable only for those who may write the directory (its owner and, when the directory's group
// or others may write it, they too), so a user who can only read the directory cannot take it.
// The lock file goes again when the lock is let go; a run killed while holding it leaves the file,
// which the next run takes over. Where the file system has no such locks, or the directory cannot
// be written (then nothing in it can be changed either), the run goes on unlocked. On Windows it
// is a named mutex standing for the directory (volume serial and file index), in the global
// namespace where the run may create one, else in the session's; a mutex its holder left by dying
// counts as acquired.
//
// However the lock is held by someone else, a run waits for it no longer than its bound.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "os/unique_fd.h"

namespace tessaro {

// The lock file's name in a group's directory: hidden, and never named like a tile or a mosaic.
inline constexpr char kLockName[] = ".tessaro-lock";

enum class LockState {
    held,         // this run alone works in the directory
    unlocked,     // no lock is to be had here: the run goes on without
    busy,         // another holds it (or a lock file this run may not open) past the bound
    interrupted,  // an interrupt came while waiting
    noDescriptor  // the process or the system had no descriptor to give for the lock file
};

class DirLock {
public:
    DirLock(int dirFd, std::chrono::milliseconds bound);
    ~DirLock();
    DirLock(const DirLock&) = delete;
    DirLock& operator=(const DirLock&) = delete;
    LockState state() const { return state_; }
    // The owner the file system gave the lock file this run made (Linux), which is the owner it
    // gives any file this run makes there: not root, for a run as root on an export that squashes
    // root. Empty when the run found the lock file made already.
    std::optional<uint32_t> NewFileOwner() const { return newFileOwner_; }

private:
    LockState state_ = LockState::unlocked;
    int dirFd_ = -1;
    UniqueFd file_;             // Linux: the lock file, locked
    std::intptr_t mutex_ = 0;   // Windows: the mutex held
    std::optional<uint32_t> newFileOwner_;
    uint64_t lockDev_ = 0;  // Linux: the lock file held
    uint64_t lockIno_ = 0;
};

}  // namespace tessaro
