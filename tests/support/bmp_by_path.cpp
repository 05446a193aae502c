#include "bmp_by_path.h"

namespace tessaro {

std::optional<BmpFile> CreateBmp24(const std::string& targetPath, int32_t width, int32_t height) {
    return bmp_internal::CreateBmp24With(targetPath, width, height, {});
}

std::optional<BmpFile> bmp_internal::CreateBmp24With(const std::string& targetPath, int32_t width,
                                                     int32_t height, const BmpFileMethods& methods) {
    return CreateBmp24InWith(testing::OpenTargetDirectory(targetPath), targetPath, width, height,
                             methods);
}

}  // namespace tessaro
