// The bitmap file's system-free part: its bookkeeping, bounds and the path of its target.
#include "bmp/bmp_file.h"

#include <utility>

#include "bmp/bmp_file_internal.h"
#include "bmp/bmp_file_steps.h"
#include "scan/path_text.h"

namespace tessaro {

namespace bmp_internal {

TargetPlace SplitTarget(const std::string& path) {
    const std::string last = GetLastPart(path);  // the last separator and what follows it
    if (last.empty()) return {std::string("."), std::string(), path};
    const std::size_t separator = path.size() - last.size();
    return {path.substr(0, separator == 0 ? 1 : separator), path.substr(0, separator + 1),
            last.substr(1)};
}

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

uint64_t BmpFileLength(const BmpFile& file) {
    return kBmpHeaderSize + BmpImageSize(file.width, file.height);
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
    return bmp_internal::WriteAllAt(file.fd.get(), kBmpHeaderSize + offset,
                                    static_cast<const uint8_t*>(data), size);
}

bool WriteBmpPixels(BmpFile& file, uint64_t offset, std::span<const BmpPiece> pieces) {
    if (file.saved || !file.fd || pieces.size() > kMaxBmpPieces) return false;
    const uint64_t imageSize = BmpImageSize(file.width, file.height);
    uint64_t size = 0;
    for (const BmpPiece& piece : pieces) size += piece.size;
    if (offset > imageSize || size > imageSize - offset) return false;
    return bmp_internal::WriteAllAt(file.fd.get(), kBmpHeaderSize + offset, pieces);
}

bool SaveBmp24(BmpFile& file, bool durable) { return bmp_internal::SaveBmp24With(file, durable, {}); }

}  // namespace tessaro
