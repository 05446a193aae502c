// The walk's groups as one list of tile paths, the shape the scan and order tests compare.
#pragma once

#include <string>
#include <vector>

#include "scan/tile_scan.h"

namespace tessaro {

using TileList = std::vector<std::string>;

// Appends the path of every tile below dir (ScanTileGroups), group by group in the walk's order,
// and returns the list's length afterwards.
std::size_t FindTifFiles(const std::string& dir, const std::string& suffix, TileList& list,
                         int* rootError = nullptr);

// The number of directories in a list sorted with SortPaths.
int CountDirGroups(const TileList& list);

}  // namespace tessaro
