#include "app/path_order.h"

#include <algorithm>
#include <numeric>

#include "scan/path_text.h"

namespace tessaro {

namespace {

// Negative, zero or positive as the first size bytes of a come before, match or follow those of b.
int ComparePrefix(std::string_view a, std::size_t aSize, std::string_view b, std::size_t bSize) {
    return a.substr(0, aSize).compare(b.substr(0, bSize));
}

}  // namespace

EncodedPath EncodePath(std::string_view path, PathEncoder encode) {
    EncodedPath key;
    key.path = path;
    key.dirSize = ParentDirView(path).size();
    key.encoded = encode(path.substr(0, key.dirSize));
    key.encodedDirSize = key.encoded.size();
    key.encoded += encode(path.substr(key.dirSize));
    return key;
}

bool EncodedPathLess(const EncodedPath& a, const EncodedPath& b) {
    if (int c = ComparePrefix(a.encoded, a.encodedDirSize, b.encoded, b.encodedDirSize); c != 0) return c < 0;
    if (int c = ComparePrefix(a.path, a.dirSize, b.path, b.dirSize); c != 0) return c < 0;
    if (int c = a.encoded.compare(b.encoded); c != 0) return c < 0;
    return a.path < b.path;
}

void SortPathsEncoded(std::vector<std::string>& paths, PathEncoder encode) {
    std::vector<EncodedPath> keys;
    keys.reserve(paths.size());
    for (const std::string& path : paths) keys.push_back(EncodePath(path, encode));
    std::vector<std::size_t> order(paths.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return EncodedPathLess(keys[a], keys[b]); });
    std::vector<std::string> sorted;
    sorted.reserve(paths.size());
    for (std::size_t i : order) sorted.push_back(std::move(paths[i]));
    paths = std::move(sorted);
}

}  // namespace tessaro
