#include <algorithm>

#include "app/path_order.h"
#include "scan/path_text.h"

namespace tessaro {

bool ComparePaths(const std::string& a, const std::string& b) {
    if (int byDir = ParentDirView(a).compare(ParentDirView(b)); byDir != 0) return byDir < 0;
    return a < b;
}

void SortPaths(std::vector<std::string>& paths) { std::sort(paths.begin(), paths.end(), ComparePaths); }

}  // namespace tessaro
