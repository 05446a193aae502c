// The order in which a run takes its tiles: each directory's tiles together (by the directory's
// text first, then by the whole path), so a directory's tiles sit together whatever its
// subdirectories are called. On Linux the texts compare as their bytes (unsigned); on Windows as
// their bytes in the ANSI code page, as the C runtime's multibyte comparison orders them there,
// with ties (text the code page cannot hold) broken by the UTF-8 bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scan/group_list.h"

namespace tessaro {

// True when path a comes before path b in the run's order.
bool ComparePaths(const std::string& a, const std::string& b);

// Sorts paths into the run's order.
void SortPaths(std::vector<std::string>& paths);

// A path and its text in the bytes it is ordered by; dirSize and encodedDirSize say how many
// bytes of each are the directory's.
struct EncodedPath {
    std::string_view path;
    std::size_t dirSize = 0;
    std::string encoded;
    std::size_t encodedDirSize = 0;
};

using PathEncoder = std::string (*)(std::string_view path);

// The directory and the rest are encoded apart, so the directory's share of the bytes is exact.
EncodedPath EncodePath(std::string_view path, PathEncoder encode);

// By the encoded directory, then the directory itself, then the whole encoded path, then the
// path itself: each directory stays in one piece even where two directories encode alike.
bool EncodedPathLess(const EncodedPath& a, const EncodedPath& b);

// Sorts paths by EncodedPathLess, each path encoded once.
void SortPathsEncoded(std::vector<std::string>& paths, PathEncoder encode);

// Puts the walk's groups into the run's order: the order SortPaths gives their tiles' paths
// (each group's tiles are in that order already: SortTileNames).
void SortGroups(GroupList& groups);

// The same by the bytes `encode` gives (as SortPathsEncoded orders paths).
void SortGroupsEncoded(GroupList& groups, PathEncoder encode);

// Puts one directory's tile names into the run's order.
void SortTileNames(std::vector<std::string>& names);

// The same by the bytes `encode` gives.
void SortNamesEncoded(std::vector<std::string>& names, PathEncoder encode);

}  // namespace tessaro
