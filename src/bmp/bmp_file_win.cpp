// The bitmap's temporary file on Windows: a hidden file in the target's own directory, created
// relative to that directory's handle for this process's use alone (no sharing while it is
// written), its space reserved up front, written at offsets, flushed, and then renamed over the
// target (atomically, replacing it) through its own handle. A failure marks the temporary file
// for deletion through that same handle, so the earlier picture stays untouched and nothing of
// the attempt is left. A run killed before saving leaves its hidden temporary file, which the
// next run in that directory removes (see TidyDirectory).
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "bmp/bmp_file.h"
#include "bmp/bmp_file_internal.h"
#include "bmp/bmp_file_steps.h"
#include "bmp/bmp_temp_name.h"
#include "os/file_id_win.h"
#include "os/handle_fd_win.h"
#include "os/nt_file_win.h"

namespace tessaro {

// Never part of a UTF-8 character: the name goes to Windows as UTF-16.
std::size_t TempStemBytes(std::string_view targetName) {
    std::size_t length = std::min(targetName.size(), kMaxTempStemBytes);
    while (length > 0 && length < targetName.size() &&
           (static_cast<unsigned char>(targetName[length]) & 0xC0) == 0x80)
        --length;
    return length;
}

namespace bmp_internal {

namespace {

// How many random names to try before giving up on a directory full of collisions.
constexpr int kNameAttempts = 100;
// The most one WriteFile call is asked to write.
constexpr std::size_t kMaxWrite = std::size_t{1} << 30;

// The new temporary file as a descriptor; without one to be had, the file is marked for deletion
// before its handle is closed.
UniqueFd FdOfTemp(UniqueHandle file) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_BINARY);
    if (fd < 0) {
        MarkForDeletion(file.get());
        return UniqueFd();
    }
    file.release();
    return UniqueFd(fd);
}

// Gives the file its full length now, so a full disk or a quota shows before any work is done.
// The new space reads as zeros.
bool ReserveSpace(HANDLE file, uint64_t length) {
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(length);
    if (!SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation)) {
        const DWORD error = GetLastError();
        // A file system that cannot allocate ahead still takes the length.
        if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
            error != ERROR_INVALID_FUNCTION && error != ERROR_CALL_NOT_IMPLEMENTED)
            return false;
    }
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end) != FALSE;
}

// The temporary file was hidden while written; the picture is not.
bool Unhide(HANDLE file, DWORD attributes) {
    FILE_BASIC_INFO basic{};  // times of zero stay as they are
    basic.FileAttributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

std::optional<BmpFile> CreateInDirectory(UniqueFd dirFd, const TargetPlace& place,
                                         const std::string& targetPath, int32_t width,
                                         int32_t height) {
    std::optional<BmpFile> file = PlanBmpFile(std::move(dirFd), place, targetPath, width, height);
    if (!file) return std::nullopt;
    const HANDLE dir = HandleOf(file->dirFd.get());
    const RelativeOpen create{GENERIC_READ | GENERIC_WRITE | DELETE, FILE_CREATE,
                              FILE_NON_DIRECTORY_FILE, 0, FILE_ATTRIBUTE_HIDDEN};
    for (int attempt = 0; !file->fd && attempt < kNameAttempts; ++attempt) {
        const std::string name = MakeTempName(place.name);
        UniqueHandle created = OpenRelative(dir, name, create);
        if (created) {
            file->fd = FdOfTemp(std::move(created));
            if (!file->fd) return std::nullopt;
            file->tempPath = place.prefix + name;
        } else if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    if (!file->fd) return std::nullopt;
    // ~BmpFile removes the file when the space cannot be had.
    if (!ReserveSpace(HandleOf(file->fd.get()), BmpFileLength(*file))) return std::nullopt;
    return file;
}

// A handle of the directory dirFd of its own, as a descriptor.
UniqueFd DuplicateDir(int dirFd) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), HandleOf(dirFd), GetCurrentProcess(), &copy, 0,
                         FALSE, DUPLICATE_SAME_ACCESS))
        return UniqueFd();
    return FdOf(UniqueHandle(copy), _O_BINARY | _O_RDONLY);
}

}  // namespace

bool WriteAllAt(int fd, uint64_t offset, const uint8_t* data, std::size_t size) {
    const HANDLE file = HandleOf(fd);
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min(size, kMaxWrite));
        if (!WriteFile(file, data, chunk, &written, &at) || written == 0) return false;
        data += written;
        offset += written;
        size -= written;
    }
    return true;
}

// One write per piece: Windows has no gathered write to an arbitrary file.
bool WriteAllAt(int fd, uint64_t offset, std::span<const BmpPiece> pieces) {
    for (const BmpPiece& piece : pieces) {
        if (!WriteAllAt(fd, offset, static_cast<const uint8_t*>(piece.data), piece.size)) return false;
        offset += piece.size;
    }
    return true;
}

void DiscardTemp(BmpFile& file) {
    if (!file.tempPath.empty() && file.fd) MarkForDeletion(HandleOf(file.fd.get()));
    file.tempPath.clear();
    file.fd.reset();
}

std::optional<BmpFile> CreateBmp24With(const std::string& targetPath, int32_t width,
                                       int32_t height, const BmpFileMethods&) {
    const TargetPlace place = SplitTarget(targetPath);
    UniqueHandle dir = OpenDirectoryAt(place.prefix.empty() ? "." : place.prefix);
    return CreateInDirectory(FdOf(std::move(dir), _O_BINARY | _O_RDONLY), place, targetPath,
                             width, height);
}

std::optional<BmpFile> CreateBmp24AtWith(int dirFd, const std::string& name, int32_t width,
                                         int32_t height, const BmpFileMethods&) {
    if (name.find_first_of("\\/") != std::string::npos) return std::nullopt;
    return CreateInDirectory(DuplicateDir(dirFd), SplitTarget(name), name, width, height);
}

bool SaveBmp24With(BmpFile& file, bool durable, const BmpFileMethods&) {
    if (file.saved || !file.fd || !file.dirFd || file.tempPath.empty()) return false;
    const HANDLE handle = HandleOf(file.fd.get());
    const auto header = MakeBmpHeader(file.width, file.height);
    bool ok = WriteAllAt(file.fd.get(), 0, header.data(), header.size());
    std::optional<HandleInfo> info;
    if (ok) ok = (info = InfoOfHandle(handle)) && Unhide(handle, info->attributes);
    if (ok && durable) ok = FlushFileBuffers(handle) != FALSE;
    if (ok) ok = (info = InfoOfHandle(handle)).has_value();
    if (ok) file.id = info->id;
    if (ok) {
        ok = RenameByHandle(handle, HandleOf(file.dirFd.get()), SplitTarget(file.targetPath).name,
                            true);
    }
    if (!ok) {
        DiscardTemp(file);
        return false;
    }
    file.tempPath.clear();
    file.saved = true;
    // The picture is in place; its data was flushed before, when asked to be.
    file.fd.close();
    return true;
}

}  // namespace bmp_internal

}  // namespace tessaro
