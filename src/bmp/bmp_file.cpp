// The bitmap file on top of the system's new files (os/new_file.h): its bookkeeping, bounds,
// headers and temporary names.
#include "bmp/bmp_file.h"

#include <utility>

#include "bmp/bmp_file_internal.h"
#include "bmp/bmp_temp_name.h"
#include "os/new_file.h"
#include "scan/path_text.h"

namespace tessaro {

namespace bmp_internal {

namespace {

// A file not yet created for a width x height bitmap saved as targetPath (named place.name in
// the directory dirFd, which it keeps). Empty when the size makes no bitmap a 32-bit header can
// describe, the target has no name, or there is no directory.
std::optional<BmpFile> PlanBmpFile(UniqueFd dirFd, const TargetPlace& place,
                                   const std::string& targetPath, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return std::nullopt;
    const uint64_t length = kBmpHeaderSize + BmpImageSize(width, height);
    if (length > UINT32_MAX) return std::nullopt;  // the header's size fields are 32 bits
    if (place.name.empty() || !dirFd) return std::nullopt;
    BmpFile file;
    file.targetPath = targetPath;
    file.width = width;
    file.height = height;
    file.dirFd = std::move(dirFd);
    return file;
}

// The bitmap's whole length, headers included.
uint64_t BmpFileLength(const BmpFile& file) {
    return kBmpHeaderSize + BmpImageSize(file.width, file.height);
}

TempNameMaker TempNamesFor(const std::string& targetName) {
    return [targetName] { return MakeTempName(targetName); };
}

// The file as the system's new file: it hands over the descriptor.
NewFile TakeNewFile(BmpFile& file) {
    NewFile taken{std::move(file.fd), std::string()};
    if (!file.tempPath.empty()) taken.tempName = SplitTarget(file.tempPath).name;
    file.tempPath.clear();
    return taken;
}

// Removes the file's temporary name, if it has one, and closes it.
void DiscardTemp(BmpFile& file) {
    DiscardNewFile(file.dirFd.get(), TakeNewFile(file));
}

}  // namespace

TargetPlace SplitTarget(const std::string& path) {
    const std::string last = GetLastPart(path);  // the last separator and what follows it
    if (last.empty()) return {std::string("."), std::string(), path};
    const std::size_t separator = path.size() - last.size();
    return {path.substr(0, separator == 0 ? 1 : separator), path.substr(0, separator + 1),
            last.substr(1)};
}

std::optional<BmpFile> CreateBmp24InWith(UniqueFd dirFd, const std::string& targetPath,
                                         int32_t width, int32_t height,
                                         const BmpFileMethods& methods) {
    const TargetPlace place = SplitTarget(targetPath);
    std::optional<BmpFile> file = PlanBmpFile(std::move(dirFd), place, targetPath, width, height);
    if (!file) return std::nullopt;
    std::optional<NewFile> made = CreateNewFileAt(file->dirFd.get(), BmpFileLength(*file),
                                                  TempNamesFor(place.name), methods);
    if (!made) return std::nullopt;
    file->fd = std::move(made->fd);
    if (!made->tempName.empty()) file->tempPath = place.prefix + made->tempName;
    return file;
}

std::optional<BmpFile> CreateBmp24AtWith(int dirFd, const std::string& name, int32_t width,
                                         int32_t height, const BmpFileMethods& methods) {
    if (!GetLastPart(name).empty()) return std::nullopt;  // one entry, no separator
    return CreateBmp24InWith(DuplicateFd(dirFd), name, width, height, methods);
}

bool SaveBmp24With(BmpFile& file, bool durable, const BmpFileMethods& methods) {
    if (file.saved || !file.fd || !file.dirFd) return false;
    const std::string targetName = SplitTarget(file.targetPath).name;
    const auto header = MakeBmpHeader(file.width, file.height);
    if (!WriteAllAt(file.fd.get(), 0, header.data(), header.size())) {
        DiscardTemp(file);
        return false;
    }
    const Placement placed = PutNewFileInPlace(file.dirFd.get(), TakeNewFile(file), targetName,
                                               durable, TempNamesFor(targetName), file.id, methods);
    if (placed == Placement::failed) return false;
    file.saved = true;
    return placed == Placement::placed;
}

}  // namespace bmp_internal

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
        if (!saved) bmp_internal::DiscardTemp(*this);
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
    if (!saved) bmp_internal::DiscardTemp(*this);
}

std::optional<BmpFile> CreateBmp24At(int dirFd, const std::string& name, int32_t width,
                                     int32_t height) {
    return bmp_internal::CreateBmp24AtWith(dirFd, name, width, height, {});
}

bool WriteBmpPixels(BmpFile& file, uint64_t offset, const void* data, std::size_t size) {
    if (file.saved || !file.fd) return false;
    const uint64_t imageSize = BmpImageSize(file.width, file.height);
    if (offset > imageSize || size > imageSize - offset) return false;
    return WriteAllAt(file.fd.get(), kBmpHeaderSize + offset, data, size);
}

bool WriteBmpPixels(BmpFile& file, uint64_t offset, std::span<const BmpPiece> pieces) {
    if (file.saved || !file.fd || pieces.size() > kMaxBmpPieces) return false;
    const uint64_t imageSize = BmpImageSize(file.width, file.height);
    uint64_t size = 0;
    for (const BmpPiece& piece : pieces) size += piece.size;
    if (offset > imageSize || size > imageSize - offset) return false;
    return WriteAllAt(file.fd.get(), kBmpHeaderSize + offset, pieces);
}

bool SaveBmp24(BmpFile& file, bool durable) { return bmp_internal::SaveBmp24With(file, durable, {}); }

}  // namespace tessaro
