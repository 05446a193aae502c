#include "app/path_order.h"
#include "scan/path_text_win.h"

namespace tessaro {

bool ComparePaths(const std::string& a, const std::string& b) {
    return EncodedPathLess(EncodePath(a, AnsiFromUtf8), EncodePath(b, AnsiFromUtf8));
}

void SortPaths(std::vector<std::string>& paths) { SortPathsEncoded(paths, AnsiFromUtf8); }

}  // namespace tessaro
