// The bitmap's temporary file: creation with its space reserved, pixel writes, and the atomic
// switch into place.
//
// The file is made in the target's own directory so the final step is a rename within one file
// system. An unnamed O_TMPFILE file is preferred: if the process dies before saving, the kernel
// drops it and no stray file is ever left. Where the file system cannot make unnamed files, a
// hidden name ".<target>.tessaro-XXXXXX" is created exclusively instead; it never ends in ".tif"
// or ".bmp", so a later run never mistakes it for a tile or a finished picture.
//
// Both kinds of file are created with mode 0666, leaving the kernel to apply the umask (or the
// directory's default ACL) exactly as for any new file, so the saved picture gets the mode a
// freshly created file would get without the process ever touching its umask.
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <utility>

#include "bmp/bmp_file.h"
#include "bmp/bmp_file_internal.h"
#include "os/pinned_dir.h"

namespace tessaro {
namespace {

static_assert(sizeof(off_t) >= 8, "bitmaps of up to 4 GiB need 64-bit file offsets");

// How many random names to try before giving up on a directory full of collisions.
constexpr int kNameAttempts = 100;
// The target name is cut to this many bytes inside a temporary name, keeping it within NAME_MAX.
constexpr std::size_t kMaxStemBytes = 200;

template <typename Call>
auto RetryOnEintr(Call call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

// Where a target lives, taken from its path as text.
struct TargetPlace {
    std::string dir;     // "." when the path has no '/', "/" for an entry of the root
    std::string prefix;  // the path up to and including its last '/'; "" when it has none
    std::string name;    // the entry itself; empty when the path ends in '/'
};

TargetPlace SplitTarget(const std::string& path) {
    TargetPlace place;
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        place.dir = ".";
        place.name = path;
    } else {
        place.dir = slash == 0 ? "/" : path.substr(0, slash);
        place.prefix = path.substr(0, slash + 1);
        place.name = path.substr(slash + 1);
    }
    return place;
}

uint64_t MixBits(uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// Six random letters and digits. They only have to make collisions rare: every name is claimed
// exclusively (O_EXCL, or link's EEXIST), so a collision just means trying another one.
std::string RandomSuffix() {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    constexpr std::size_t kAlphabetSize = sizeof kAlphabet - 1;
    unsigned char raw[6];
    if (getrandom(raw, sizeof raw, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof raw)) {
        // No entropy to be had (very early boot, old kernel): the time, the process and a
        // counter still differ from one attempt to the next.
        static std::atomic<uint64_t> counter{0};
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        uint64_t bits = MixBits(static_cast<uint64_t>(now.tv_nsec) ^
                                (static_cast<uint64_t>(now.tv_sec) << 30) ^
                                (static_cast<uint64_t>(getpid()) << 20) ^ counter.fetch_add(1));
        for (auto& byte : raw) {
            byte = static_cast<unsigned char>(bits);
            bits >>= 8;
        }
    }
    std::string suffix;
    for (unsigned char byte : raw) suffix += kAlphabet[byte % kAlphabetSize];
    return suffix;
}

std::string MakeTempName(const std::string& targetName) {
    return "." + targetName.substr(0, kMaxStemBytes) + ".tessaro-" + RandomSuffix();
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

bool PwriteAll(int fd, uint64_t offset, const uint8_t* data, std::size_t size) {
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

// Removes the file's temporary name, if it has one, and closes it; an unnamed file vanishes
// with its last descriptor.
void DiscardTemp(BmpFile& file) {
    if (!file.tempPath.empty() && file.dirFd)
        unlinkat(file.dirFd.get(), EntryName(file.tempPath).c_str(), 0);
    file.tempPath.clear();
    file.fd.reset();
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

}  // namespace

BmpFile::BmpFile(BmpFile&& other) noexcept
    : fd(std::move(other.fd)),
      targetPath(std::move(other.targetPath)),
      width(other.width),
      height(other.height),
      tempPath(std::exchange(other.tempPath, std::string())),
      dirFd(std::move(other.dirFd)),
      id(other.id),
      saved(other.saved) {}

BmpFile& BmpFile::operator=(BmpFile&& other) noexcept {
    if (this != &other) {
        if (!saved) DiscardTemp(*this);
        fd = std::move(other.fd);
        targetPath = std::move(other.targetPath);
        width = other.width;
        height = other.height;
        tempPath = std::exchange(other.tempPath, std::string());
        dirFd = std::move(other.dirFd);
        id = other.id;
        saved = other.saved;
    }
    return *this;
}

BmpFile::~BmpFile() {
    if (!saved) DiscardTemp(*this);
}

namespace bmp_internal {

namespace {

std::optional<BmpFile> CreateInDirectory(UniqueFd dirFd, const TargetPlace& place,
                                         const std::string& targetPath, int32_t width,
                                         int32_t height, const BmpFileMethods& methods) {
    if (width <= 0 || height <= 0) return std::nullopt;
    const uint64_t length = kBmpHeaderSize + BmpImageSize(width, height);
    if (length > UINT32_MAX) return std::nullopt;  // the header's size fields are 32 bits
    if (place.name.empty() || !dirFd) return std::nullopt;

    BmpFile file;
    file.targetPath = targetPath;
    file.width = width;
    file.height = height;
    file.dirFd = std::move(dirFd);
    const int dir = file.dirFd.get();

    if (methods.unnamedTemp) {
        file.fd = UniqueFd(openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
        if (!file.fd && !UnnamedFilesUnsupported(errno)) return std::nullopt;
    }
    for (int attempt = 0; !file.fd && attempt < kNameAttempts; ++attempt) {
        const std::string name = MakeTempName(place.name);
        file.fd = UniqueFd(
            openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (file.fd) {
            file.tempPath = place.prefix + name;
        } else if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    if (!file.fd) return std::nullopt;

    if (!ReserveSpace(file.fd.get(), length)) return std::nullopt;  // ~BmpFile removes the name
    return file;
}

}  // namespace

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
    bool ok = PwriteAll(file.fd.get(), 0, header.data(), header.size());
    if (ok && durable) ok = RetryOnEintr([&] { return fsync(file.fd.get()); }) == 0;
    struct stat written;
    if (ok) ok = fstat(file.fd.get(), &written) == 0;
    if (ok) file.id = FileIdOf(written);
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
    if (inPlace && !ok) unlinkat(dirFd, targetName.c_str(), 0);  // it was ours alone
    if (ok && !inPlace)
        ok = renameat(dirFd, EntryName(file.tempPath).c_str(), dirFd, targetName.c_str()) == 0;
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

std::optional<BmpFile> CreateBmp24(const std::string& targetPath, int32_t width, int32_t height) {
    return bmp_internal::CreateBmp24With(targetPath, width, height, {});
}

std::optional<BmpFile> CreateBmp24At(int dirFd, const std::string& name, int32_t width,
                                     int32_t height) {
    return bmp_internal::CreateBmp24AtWith(dirFd, name, width, height, {});
}

bool WriteBmpPixels(BmpFile& file, uint64_t offset, const void* data, std::size_t size) {
    if (file.saved || !file.fd) return false;
    const uint64_t imageSize = BmpImageSize(file.width, file.height);
    if (offset > imageSize || size > imageSize - offset) return false;
    return PwriteAll(file.fd.get(), kBmpHeaderSize + offset, static_cast<const uint8_t*>(data),
                     size);
}

bool SaveBmp24(BmpFile& file, bool durable) { return bmp_internal::SaveBmp24With(file, durable, {}); }

}  // namespace tessaro
