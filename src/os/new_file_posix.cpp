// New files on Linux. The file is made in the directory where it will be put in place, so the
// final step is a link or a rename within one file system.
#include "os/new_file.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <utility>

#include "os/pinned_dir.h"
#include "os/pinned_dir_posix.h"

namespace tessaro {

namespace {

// How many temporary names to try before giving up on a directory full of collisions.
constexpr int kNameAttempts = 100;

template <typename Call>
auto RetryOnEintr(Call call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

// The errors with which open(O_TMPFILE) says the kernel or the file system cannot make unnamed
// files (a kernel that predates them sees only O_DIRECTORY and answers EISDIR).
bool UnnamedFilesUnsupported(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOSYS;
}

bool ReserveSpace(int fd, uint64_t length) {
    const auto size = static_cast<off_t>(length);
    if (RetryOnEintr([&] { return fallocate(fd, 0, 0, size); }) == 0) return true;
    if (errno != EOPNOTSUPP && errno != ENOSYS) return false;
    // The file system cannot allocate ahead; a sparse file of the right length is the best left.
    return RetryOnEintr([&] { return ftruncate(fd, size); }) == 0;
}

// Whether the directory is append-only or immutable: a temporary name given there could never
// be renamed away or removed again.
bool RefusesRemovals(int dirFd) {
    UniqueFd dir(openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int flags = 0;
    if (!dir || ioctl(dir.get(), FS_IOC_GETFLAGS, &flags) != 0) return false;  // not supported
    return (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
}

// Gives an unnamed file a fresh temporary name in its directory.
bool LinkUnderTempName(NewFile& file, int dirFd, const TempNameMaker& makeName,
                       bool byDescriptor) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name = makeName();
        if (LinkUnnamedFile(file.fd.get(), dirFd, name, byDescriptor)) {
            file.tempName = std::move(name);
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

}  // namespace

std::optional<NewFile> CreateNewFileAt(int dirFd, uint64_t length, const TempNameMaker& makeName,
                                       const NewFileMethods& methods) {
    NewFile file;
    if (methods.unnamedTemp) {
        file.fd = UniqueFd(openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
        if (!file.fd && !UnnamedFilesUnsupported(errno)) return std::nullopt;
    }
    for (int attempt = 0; !file.fd && attempt < kNameAttempts; ++attempt) {
        std::string name = makeName();
        file.fd = UniqueFd(
            openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (file.fd) {
            file.tempName = std::move(name);
        } else if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    if (!file.fd) return std::nullopt;
    if (!ReserveSpace(file.fd.get(), length)) {
        DiscardNewFile(dirFd, std::move(file));
        return std::nullopt;
    }
    return file;
}

Placement PutNewFileInPlace(int dirFd, NewFile file, const std::string& name, bool durable,
                            const TempNameMaker& makeName, FileId& id,
                            const NewFileMethods& methods) {
    bool ok = static_cast<bool>(file.fd);
    if (ok && durable) ok = RetryOnEintr([&] { return fsync(file.fd.get()); }) == 0;
    std::optional<FileId> written;
    if (ok) ok = (written = FileIdOfFd(file.fd.get())).has_value();
    if (ok) id = *written;
    // Opened for reading now, while the target is still untouched, so a directory that cannot
    // be flushed fails the step instead of leaving it half done.
    UniqueFd dirToFlush;
    if (ok && durable) {
        dirToFlush = UniqueFd(openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ok = static_cast<bool>(dirToFlush);
    }
    bool inPlace = false;
    if (ok && file.tempName.empty()) {
        // With nothing at the name yet, the unnamed file takes it in one step, leaving no
        // temporary name that a kill, or a directory refusing removals, could strand.
        bool byDescriptor = methods.linkByEmptyPath;
        inPlace = LinkUnnamedFile(file.fd.get(), dirFd, name, byDescriptor);
        // Otherwise it gets a temporary name, so the switch is a rename and everything that can
        // still fail (the close) happens while the earlier file is untouched.
        if (!inPlace)
            ok = !RefusesRemovals(dirFd) &&
                 LinkUnderTempName(file, dirFd, makeName, methods.linkByEmptyPath);
    }
    if (ok) ok = file.fd.close();
    if (inPlace && !ok) RemoveEntry(dirFd, name);  // it was ours alone
    if (ok && !inPlace) ok = RenameEntry(dirFd, file.tempName, name, true);
    if (!ok) {
        DiscardNewFile(dirFd, std::move(file));
        return Placement::failed;
    }
    // The new file is in place now; this only makes its name survive a crash.
    if (durable && RetryOnEintr([&] { return fsync(dirToFlush.get()); }) != 0)
        return Placement::placedNotDurable;
    return Placement::placed;
}

// An unnamed file vanishes with its last descriptor.
void DiscardNewFile(int dirFd, NewFile file) {
    if (!file.tempName.empty() && dirFd >= 0) RemoveEntry(dirFd, file.tempName);
}

}  // namespace tessaro
