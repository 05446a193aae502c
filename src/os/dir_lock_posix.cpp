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

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The lock file open for writing, and whether this run made it.
struct LockFile {
    UniqueFd fd;
    struct stat st {};
    bool made = false;
    bool waited = false;  // another held it before this run took it
};

// Opens the lock file for writing, making it when there is none: then it belongs to the
// directory's group (to its owner too, for a run as root), with LockMode. Empty when it cannot be
// had, with errno set.
LockFile OpenLockFile(int dirFd) {
    constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    struct stat dir;
    LockFile file;
    if (fstat(dirFd, &dir) != 0) return file;
    const mode_t mode = LockMode(dir);
    file.fd = UniqueFd(openat(dirFd, kLockName, kFlags | O_CREAT | O_EXCL, mode));
    file.made = static_cast<bool>(file.fd);
    if (!file.fd) {
        if (errno != EEXIST) return file;
        file.fd = UniqueFd(openat(dirFd, kLockName, kFlags));
    }
    if (file.fd && fstat(file.fd.get(), &file.st) != 0) file.fd.reset();
    if (!file.made || !file.fd) return file;
    // It belongs to the directory's group (and, for a run as root, to the directory's owner), so
    // that those who may write the directory may open it; a user may give it only a group of
    // their own, else it stays theirs. Its mode is set past the umask where that took from it.
    const uid_t owner = geteuid() == 0 ? dir.st_uid : file.st.st_uid;
    if (file.st.st_uid != owner || file.st.st_gid != dir.st_gid)
        [[maybe_unused]] const int given = fchown(file.fd.get(), owner, dir.st_gid);
    if ((file.st.st_mode & 0777) != mode) fchmod(file.fd.get(), mode);
    return file;
}

Attempt TryLock(int dirFd, LockFile& file) {
    if (!file.fd) {
        file = OpenLockFile(dirFd);
        if (!file.fd) {
            if (errno == EMFILE || errno == ENFILE) return Attempt::noDescriptor;
            // A directory this run may not write: it changes nothing there, and needs no lock.
            if (errno == EROFS || ((errno == EACCES || errno == EPERM) &&
                                   faccessat(dirFd, ".", W_OK, AT_EACCESS) != 0))
                return Attempt::noLocks;
            return errno == ENOENT ? Attempt::retry : Attempt::refused;
        }
        if (!S_ISREG(file.st.st_mode)) return Attempt::refused;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(file.fd.get(), F_OFD_SETLK, &lock) != 0) {
        if (errno == EAGAIN || errno == EACCES || errno == EINTR) {
            file.waited = true;
            return Attempt::heldElsewhere;
        }
        return Attempt::noLocks;  // ENOLCK, EINVAL, EOPNOTSUPP: the file system has none
    }
    // A holder removes the name before it lets go: a lock taken on a file that lost its name
    // meanwhile is no lock at all, and the next file is taken. (A file this run made and locked
    // at once had no holder to let go of it.)
    struct stat named;
    if ((file.made && !file.waited) || (fstatat(dirFd, kLockName, &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(named, file.st)))
        return Attempt::locked;
    file.fd.reset();
    return Attempt::retry;
}

}  // namespace

DirLock::DirLock(int dirFd, std::chrono::milliseconds bound) : dirFd_(dirFd) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    LockFile file;
    for (;;) {
        switch (TryLock(dirFd, file)) {
            case Attempt::locked:
                state_ = LockState::held;
                // The owner the file system gave this run's new file tells whose its files are
                // there; a lock file a killed run left tells nothing of that, so a new file does.
                newFileOwner_ = file.made ? std::optional<uint32_t>(file.st.st_uid) : ProbeNewFileOwner(dirFd);
                file_ = std::move(file.fd);
                lockDev_ = static_cast<uint64_t>(file.st.st_dev);
                lockIno_ = static_cast<uint64_t>(file.st.st_ino);
                return;
            case Attempt::noLocks: state_ = LockState::unlocked; return;
            case Attempt::refused: state_ = LockState::busy; return;
            case Attempt::noDescriptor: state_ = LockState::noDescriptor; return;
            case Attempt::retry:
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
        // A lock file that changed hands is taken again at once; a held one is waited for.
        if (!file.fd) continue;
        pollfd wake{InterruptFd(), POLLIN, 0};
        poll(&wake, 1, 50);
    }
}

DirLock::~DirLock() {
    if (state_ != LockState::held) return;
    // The name goes first, while the lock is still held: whoever opened this file meanwhile finds
    // it nameless once it has the lock, and takes the next one.
    struct stat named;
    if (fstatat(dirFd_, kLockName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        static_cast<uint64_t>(named.st_dev) == lockDev_ && static_cast<uint64_t>(named.st_ino) == lockIno_)
        unlinkat(dirFd_, kLockName, 0);
}

}  // namespace tessaro
