#include "scan/path_order.h"

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

namespace {

// Sorts items by the bytes `encode` gives their texts; text that encodes alike is told apart by
// its own bytes, as EncodedPathLess does.
template <typename Items, typename TextOf>
void SortByEncoding(Items& items, PathEncoder encode, TextOf textOf) {
    std::vector<std::string> keys;
    keys.reserve(items.size());
    for (const auto& item : items) keys.push_back(encode(textOf(item)));
    std::vector<std::size_t> order(items.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (int c = keys[a].compare(keys[b]); c != 0) return c < 0;
        return textOf(items[a]) < textOf(items[b]);
    });
    Items sorted;
    if constexpr (requires { sorted.reserve(0); }) sorted.reserve(items.size());
    for (std::size_t i : order) sorted.push_back(std::move(items[i]));
    items = std::move(sorted);
}

}  // namespace

void SortGroupsEncoded(GroupList& groups, PathEncoder encode) {
    SortByEncoding(groups.groups, encode,
                   [&](const GroupList::Packed& packed) { return PackedDir(groups, packed); });
}

void SortNamesEncoded(std::vector<std::string>& names, PathEncoder encode) {
    SortByEncoding(names, encode, [](const std::string& name) -> std::string_view { return name; });
}

}  // namespace tessaro
