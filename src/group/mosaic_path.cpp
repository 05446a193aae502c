#include "group/mosaic_path.h"

#include "scan/path_text.h"

namespace tessaro {

std::optional<std::string> MosaicName(const std::string& groupDir) {
    std::string name = DirNameOf(groupDir);
    if (name.empty()) name = DirNameOf(ResolvedPath(groupDir));
    if (name.empty()) return std::nullopt;
    return name + ".bmp";
}

std::optional<std::string> MosaicPath(const std::string& groupDir) {
    const std::optional<std::string> name = MosaicName(groupDir);
    if (!name) return std::nullopt;
    return JoinPath(groupDir, *name);
}

}  // namespace tessaro
