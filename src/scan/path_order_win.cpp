#include "scan/path_order.h"
#include "os/wide_text_win.h"

namespace tessaro {

bool ComparePaths(const std::string& a, const std::string& b) {
    return EncodedPathLess(EncodePath(a, AnsiFromUtf8), EncodePath(b, AnsiFromUtf8));
}

void SortPaths(std::vector<std::string>& paths) { SortPathsEncoded(paths, AnsiFromUtf8); }

void SortGroups(GroupList& groups) { SortGroupsEncoded(groups, AnsiFromUtf8); }

void SortTileNames(std::vector<std::string>& names) { SortNamesEncoded(names, AnsiFromUtf8); }

}  // namespace tessaro
