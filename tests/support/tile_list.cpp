#include "tile_list.h"

#include "scan/path_text.h"

namespace tessaro {

std::size_t FindTifFiles(const std::string& dir, const std::string& suffix, TileList& list,
                         int* rootError) {
    const GroupList groups = ScanTileGroups(dir, suffix, rootError);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const ScannedGroup group = GroupAt(groups, g);
        for (std::size_t i = 0; i < group.names.size(); ++i) list.push_back(group.TilePath(i));
    }
    return list.size();
}

int CountDirGroups(const TileList& list) {
    int groups = 0;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (i == 0 || ParentDirView(list[i]) != ParentDirView(list[i - 1])) ++groups;
    return groups;
}

}  // namespace tessaro
