#include "os/dir_lock.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "os/interrupt.h"
#include "os/random_bytes.h"

namespace tessaro {

namespace {

enum class Attempt { locked, heldElsewhere, noLocks, refused, noDescriptor, retry };

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
UniqueFd OpenLockFile(int dirFd, std::optional<uint32_t>* newFileOwner) {
    constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    struct stat dir;
    if (fstat(dirFd, &dir) != 0) return UniqueFd();
    UniqueFd fd(openat(dirFd, kLockName, kFlags | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR));
    if (fd) {
        struct stat made;
        if (fstat(fd.get(), &made) == 0) *newFileOwner = made.st_uid;
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

// The owner the file system gives a new file of this run in the directory, learnt from a file
// made and dropped again: unnamed where the system can, else under a name of its own.
std::optional<uint32_t> ProbeNewFileOwner(int dirFd) {
    UniqueFd probe(openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, S_IRUSR | S_IWUSR));
    std::string name;
    if (!probe) {
        unsigned char random[8];
        if (!SystemRandomBytes(random, sizeof random)) return std::nullopt;
        name = ".tessaro-owner-";
        for (unsigned char byte : random) name += "0123456789abcdef"[byte & 15];
        probe = UniqueFd(openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                S_IRUSR | S_IWUSR));
        if (!probe) return std::nullopt;
    }
    struct stat st;
    const bool known = fstat(probe.get(), &st) == 0;
    if (!name.empty()) unlinkat(dirFd, name.c_str(), 0);
    if (!known) return std::nullopt;
    return static_cast<uint32_t>(st.st_uid);
}

// True while the lock file's name still leads to the file open as fd: a holder removes the name
// before it lets go, so a lock taken on a file without a name is no lock at all.
bool StillNamed(int dirFd, int fd) {
    struct stat named;
    struct stat held;
    return fstatat(dirFd, kLockName, &named, AT_SYMLINK_NOFOLLOW) == 0 && fstat(fd, &held) == 0 &&
           named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

Attempt TryLock(int dirFd, UniqueFd& file, std::optional<uint32_t>* newFileOwner) {
    if (!file) {
        file = OpenLockFile(dirFd, newFileOwner);
        if (!file) {
            // A directory this run may not write: it changes nothing there, and needs no lock.
            if (errno == EROFS || ((errno == EACCES || errno == EPERM) &&
                                   faccessat(dirFd, ".", W_OK, AT_EACCESS) != 0))
                return Attempt::noLocks;
            if (errno == EMFILE || errno == ENFILE) return Attempt::noDescriptor;
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
    if (StillNamed(dirFd, file.get())) {
        // A lock file a killed run left tells nothing of this run's files: a new one does.
        if (!*newFileOwner) *newFileOwner = ProbeNewFileOwner(dirFd);
        return Attempt::locked;
    }
    file.reset();  // its holder let go and removed it meanwhile: the next one is taken
    return Attempt::retry;
}

}  // namespace

DirLock::DirLock(int dirFd, std::chrono::milliseconds bound) : dirFd_(dirFd) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        switch (TryLock(dirFd, file_, &newFileOwner_)) {
            case Attempt::locked: state_ = LockState::held; return;
            case Attempt::noLocks: file_.reset(); state_ = LockState::unlocked; return;
            case Attempt::refused: file_.reset(); state_ = LockState::busy; return;
            case Attempt::noDescriptor: state_ = LockState::noDescriptor; return;
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
