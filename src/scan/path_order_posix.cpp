#include <algorithm>

#include "scan/path_order.h"
#include "scan/path_text.h"

namespace tessaro {

bool ComparePaths(const std::string& a, const std::string& b) {
    if (int byDir = ParentDirView(a).compare(ParentDirView(b)); byDir != 0) return byDir < 0;
    return a < b;
}

void SortPaths(std::vector<std::string>& paths) { std::sort(paths.begin(), paths.end(), ComparePaths); }

// The walk lists each directory's names in byte order already.
void SortGroups(std::vector<ScannedGroup>& groups) {
    std::sort(groups.begin(), groups.end(),
              [](const ScannedGroup& a, const ScannedGroup& b) { return a.dir < b.dir; });
}

}  // namespace tessaro
