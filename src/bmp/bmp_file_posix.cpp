// The bitmap's temporary file on Linux: creation with its space reserved, pixel writes, and the
// atomic switch into place.
//
// The file is made in the target's own directory so the final step is a rename within one file
// system. An unnamed O_TMPFILE file is preferred: if the process dies before saving, the kernel
// drops it and no stray file is ever left. Where the file system cannot make unnamed files, a
// hidden name (see bmp_temp_name.h) is created exclusively instead.
//
// Both kinds of file are created with mode 0666, leaving the kernel to apply the umask (or the
// directory's default ACL) exactly as for any new file, so the saved picture gets the mode a
// freshly created file would get without the process ever touching its umask.
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "bmp/bmp_file.h"
#include "bmp/bmp_file_internal.h"
#include "bmp/bmp_file_steps.h"
#include "bmp/bmp_temp_name.h"
#include "os/pinned_dir.h"
#include "os/pinned_dir_posix.h"

namespace tessaro {

std::size_t TempStemBytes(std::string_view targetName) {
    return std::min(targetName.size(), kMaxTempStemBytes);
}

namespace bmp_internal {

namespace {

static_assert(sizeof(off_t) >= 8, "bitmaps of up to 4 GiB need 64-bit file offsets");

// How many random names to try before giving up on a directory full of collisions.
constexpr int kNameAttempts = 100;

template <typename Call>
auto RetryOnEintr(Call call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

std::string EntryName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The errors with which open(O_TMPFILE) says the kernel or the file system cannot make unnamed
// files (a kernel that predates them sees only O_DIRECTORY and answers EISDIR).
bool UnnamedFilesUnsupported(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOSYS;
}

// Gives the file its full length now, so a full disk, a quota or a file-size limit shows before
// any work is done. The new space reads as zeros.
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

// Gives an unnamed file a fresh hidden name in its directory and records it in file.tempPath.
// Used when the target exists: the switch is then a rename, so everything that can still fail
// (the close) happens while the earlier target is untouched.
bool LinkUnnamed(BmpFile& file, bool tryEmptyPath) {
    const TargetPlace place = SplitTarget(file.targetPath);
    const int fd = file.fd.get();
    const int dirFd = file.dirFd.get();
    char procPath[40];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
    bool useEmptyPath = tryEmptyPath;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = MakeTempName(place.name);
        int result = -1;
        if (useEmptyPath) {
            result = linkat(fd, "", dirFd, name.c_str(), AT_EMPTY_PATH);
            // Linking by descriptor needs CAP_DAC_READ_SEARCH (ENOENT without it); the /proc
            // link to the descriptor does the same for any user.
            if (result != 0 && errno != EEXIST) useEmptyPath = false;
        }
        if (!useEmptyPath)
            result = linkat(AT_FDCWD, procPath, dirFd, name.c_str(), AT_SYMLINK_FOLLOW);
        if (result == 0) {
            file.tempPath = place.prefix + name;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

std::optional<BmpFile> CreateInDirectory(UniqueFd dirFd, const TargetPlace& place,
                                         const std::string& targetPath, int32_t width,
                                         int32_t height, const BmpFileMethods& methods) {
    std::optional<BmpFile> file = PlanBmpFile(std::move(dirFd), place, targetPath, width, height);
    if (!file) return std::nullopt;
    const int dir = file->dirFd.get();

    if (methods.unnamedTemp) {
        file->fd = UniqueFd(openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
        if (!file->fd && !UnnamedFilesUnsupported(errno)) return std::nullopt;
    }
    for (int attempt = 0; !file->fd && attempt < kNameAttempts; ++attempt) {
        const std::string name = MakeTempName(place.name);
        file->fd = UniqueFd(
            openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (file->fd) {
            file->tempPath = place.prefix + name;
        } else if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    if (!file->fd) return std::nullopt;

    // ~BmpFile removes the name when the space cannot be had.
    if (!ReserveSpace(file->fd.get(), BmpFileLength(*file))) return std::nullopt;
    return file;
}

}  // namespace

bool WriteAllAt(int fd, uint64_t offset, const uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = pwrite(fd, data, size, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (written == 0) return false;  // no progress: treat as a failed write, never spin
        data += written;
        offset += static_cast<uint64_t>(written);
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool WriteAllAt(int fd, uint64_t offset, std::span<const BmpPiece> pieces) {
    if (pieces.size() > kMaxBmpPieces) return false;
    std::array<iovec, kMaxBmpPieces> gathered;
    std::size_t count = 0;
    for (const BmpPiece& piece : pieces)
        if (piece.size > 0) gathered[count++] = {const_cast<void*>(piece.data), piece.size};
    for (std::span<iovec> rest(gathered.data(), count); !rest.empty();) {
        const ssize_t written =
            pwritev(fd, rest.data(), static_cast<int>(rest.size()), static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;  // no progress: treat as a failed write, never spin
        offset += static_cast<uint64_t>(written);
        // Drops what was written: whole pieces, then the front of the next one.
        for (std::size_t done = static_cast<std::size_t>(written); done > 0 && !rest.empty();) {
            const std::size_t take = std::min(done, rest.front().iov_len);
            rest.front().iov_base = static_cast<uint8_t*>(rest.front().iov_base) + take;
            rest.front().iov_len -= take;
            done -= take;
            if (rest.front().iov_len == 0) rest = rest.subspan(1);
        }
    }
    return true;
}

// An unnamed file vanishes with its last descriptor.
void DiscardTemp(BmpFile& file) {
    if (!file.tempPath.empty() && file.dirFd) RemoveEntry(file.dirFd.get(), EntryName(file.tempPath));
    file.tempPath.clear();
    file.fd.reset();
}

std::optional<BmpFile> CreateBmp24With(const std::string& targetPath, int32_t width,
                                       int32_t height, const BmpFileMethods& methods) {
    const TargetPlace place = SplitTarget(targetPath);
    return CreateInDirectory(UniqueFd(open(place.dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)),
                             place, targetPath, width, height, methods);
}

std::optional<BmpFile> CreateBmp24AtWith(int dirFd, const std::string& name, int32_t width,
                                         int32_t height, const BmpFileMethods& methods) {
    if (name.find('/') != std::string::npos) return std::nullopt;
    return CreateInDirectory(UniqueFd(fcntl(dirFd, F_DUPFD_CLOEXEC, 0)), SplitTarget(name), name,
                             width, height, methods);
}

bool SaveBmp24With(BmpFile& file, bool durable, const BmpFileMethods& methods) {
    if (file.saved || !file.fd || !file.dirFd) return false;
    const std::string targetName = SplitTarget(file.targetPath).name;
    const int dirFd = file.dirFd.get();

    const auto header = MakeBmpHeader(file.width, file.height);
    bool ok = WriteAllAt(file.fd.get(), 0, header.data(), header.size());
    if (ok && durable) ok = RetryOnEintr([&] { return fsync(file.fd.get()); }) == 0;
    std::optional<FileId> written;
    if (ok) ok = (written = FileIdOfFd(file.fd.get())).has_value();
    if (ok) file.id = *written;
    // Opened for reading now, while the target is still untouched, so a directory that cannot
    // be flushed fails the save instead of leaving it half done.
    UniqueFd dirToFlush;
    if (ok && durable) {
        dirToFlush = UniqueFd(openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ok = static_cast<bool>(dirToFlush);
    }
    bool inPlace = false;
    if (ok && file.tempPath.empty()) {
        // With nothing at the target yet, the unnamed file takes the target's name in one step,
        // leaving no temporary name that a kill, or a directory refusing removals, could strand.
        inPlace = LinkUnnamedFile(file.fd.get(), dirFd, targetName, methods.linkByEmptyPath);
        if (!inPlace) ok = !RefusesRemovals(dirFd) && LinkUnnamed(file, methods.linkByEmptyPath);
    }
    // A failed close can mean written data was lost (e.g. on NFS): the file must not be used.
    if (ok) ok = file.fd.close();
    if (inPlace && !ok) RemoveEntry(dirFd, targetName);  // it was ours alone
    if (ok && !inPlace) ok = RenameEntry(dirFd, EntryName(file.tempPath), targetName, true);
    if (!ok) {
        DiscardTemp(file);
        return false;
    }
    file.tempPath.clear();
    file.saved = true;
    // The new picture is in place now; this only makes its name survive a crash.
    if (durable && RetryOnEintr([&] { return fsync(dirToFlush.get()); }) != 0) return false;
    return true;
}

}  // namespace bmp_internal

}  // namespace tessaro
