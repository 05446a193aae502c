#include <algorithm>

#include "scan/path_order.h"
#include "scan/path_text.h"

namespace tessaro {

bool ComparePaths(const std::string& a, const std::string& b) {
    if (int byDir = ParentDirView(a).compare(ParentDirView(b)); byDir != 0) return byDir < 0;
    return a < b;
}

void SortPaths(std::vector<std::string>& paths) { std::sort(paths.begin(), paths.end(), ComparePaths); }

void SortGroups(GroupList& groups) {
    std::sort(groups.groups.begin(), groups.groups.end(),
              [&](const GroupList::Packed& a, const GroupList::Packed& b) {
                  return PackedDir(groups, a) < PackedDir(groups, b);
              });
}

void SortTileNames(std::vector<std::string>& names) { std::sort(names.begin(), names.end()); }

}  // namespace tessaro
