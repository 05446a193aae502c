#include "mosaic/group_splice.h"

#include <string>

#include "app/console.h"

namespace tessaro {

// Provisional until the mosaic code lands: refuses groups of the wrong size, saves nothing.
bool SpliceGroup(const TileGroup& group, bool) {
    const std::size_t count = group.size();
    if (count != 2 && count != 4 && count != 6)
        PrintText("拼接失败! 拼接的Tif数为" + std::to_string(count) + "!\n");
    return false;
}

std::optional<std::string> MosaicPath(const std::string&) { return std::nullopt; }

}  // namespace tessaro
