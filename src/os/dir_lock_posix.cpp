#include "os/dir_lock.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "os/interrupt.h"

namespace tessaro {

namespace {

enum class Attempt { locked, heldElsewhere, noLocks, refused, retry };

// The lock file's mode: writable by those who may write the directory, readable by nobody else.
mode_t LockMode(const struct stat& dir) {
    mode_t mode = S_IRUSR | S_IWUSR;
    if (dir.st_mode & S_IWGRP) mode |= S_IRGRP | S_IWGRP;
    if (dir.st_mode & S_IWOTH) mode |= S_IROTH | S_IWOTH;
    return mode;
}

// Opens the lock file for writing, making it when there is none: then it belongs to the
// directory's group (to its owner too, for a run as root), with LockMode. Empty when it cannot be
// had, with errno set.
UniqueFd OpenLockFile(int dirFd) {
    constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    struct stat dir;
    if (fstat(dirFd, &dir) != 0) return UniqueFd();
    UniqueFd fd(openat(dirFd, kLockName, kFlags | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR));
    if (fd) {
        // It belongs to the directory's group (and, for a run as root, to the directory's owner),
        // so that those who may write the directory may open it. A user may give it only a group
        // of their own; otherwise it stays theirs.
        const uid_t owner = geteuid() == 0 ? dir.st_uid : static_cast<uid_t>(-1);
        [[maybe_unused]] const int given = fchown(fd.get(), owner, dir.st_gid);
        fchmod(fd.get(), LockMode(dir));
        return fd;
    }
    if (errno != EEXIST) return UniqueFd();
    return UniqueFd(openat(dirFd, kLockName, kFlags));
}

// True while the lock file's name still leads to the file open as fd: a holder removes the name
// before it lets go, so a lock taken on a file without a name is no lock at all.
bool StillNamed(int dirFd, int fd) {
    struct stat named;
    struct stat held;
    return fstatat(dirFd, kLockName, &named, AT_SYMLINK_NOFOLLOW) == 0 && fstat(fd, &held) == 0 &&
           named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

Attempt TryLock(int dirFd, UniqueFd& file) {
    if (!file) {
        file = OpenLockFile(dirFd);
        if (!file) {
            // A directory this run may not write: it changes nothing there, and needs no lock.
            if (errno == EROFS || ((errno == EACCES || errno == EPERM) &&
                                   faccessat(dirFd, ".", W_OK, AT_EACCESS) != 0))
                return Attempt::noLocks;
            return errno == ENOENT ? Attempt::retry : Attempt::refused;
        }
        struct stat st;
        if (fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return Attempt::refused;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(file.get(), F_OFD_SETLK, &lock) != 0) {
        if (errno == EAGAIN || errno == EACCES || errno == EINTR) return Attempt::heldElsewhere;
        return Attempt::noLocks;  // ENOLCK, EINVAL, EOPNOTSUPP: the file system has none
    }
    if (StillNamed(dirFd, file.get())) return Attempt::locked;
    file.reset();  // its holder let go and removed it meanwhile: the next one is taken
    return Attempt::retry;
}

}  // namespace

DirLock::DirLock(int dirFd, std::chrono::milliseconds bound) : dirFd_(dirFd) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        switch (TryLock(dirFd, file_)) {
            case Attempt::locked: state_ = LockState::held; return;
            case Attempt::noLocks: file_.reset(); state_ = LockState::unlocked; return;
            case Attempt::refused: file_.reset(); state_ = LockState::busy; return;
            case Attempt::retry: continue;
            case Attempt::heldElsewhere: break;
        }
        if (InterruptSignal() != 0) {
            state_ = LockState::interrupted;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            state_ = LockState::busy;
            break;
        }
        pollfd wake{InterruptFd(), POLLIN, 0};
        poll(&wake, 1, 50);
    }
    file_.reset();
}

DirLock::~DirLock() {
    if (state_ != LockState::held) return;
    // The name goes first, while the lock is still held: whoever opened this file meanwhile finds
    // it nameless once it has the lock, and takes the next one.
    if (StillNamed(dirFd_, file_.get())) unlinkat(dirFd_, kLockName, 0);
}

}  // namespace tessaro
