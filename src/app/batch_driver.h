// The batch driver: scans the tree, groups the tiles by directory and splices each group.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "mosaic/group_splice.h"
#include "scan/tile_scan.h"

namespace tessaro {

using GroupSplicer = std::function<bool(const TileGroup&, bool)>;

// The sort order: by parent directory text, then by the whole path, both as unsigned bytes, so
// each directory's tiles sit together whatever its subdirectories are called.
bool ComparePaths(const std::string& a, const std::string& b);

// The number of groups (directories) in a list sorted with ComparePaths.
int CountDirGroups(const TileList& list);

enum class BatchOutcome {
    allSaved,       // no group failed (also when no tile was found)
    someFailed,     // at least one group failed
    rootUnreadable  // rootDir could not be opened or listed; its error has been printed
};

// Runs the whole batch below rootDir: for each group its progress line, then the splicer. With
// showProgress (for a terminal on standard error), a status line shows how far the run has got
// while each group is joined, and a summary line ends the run.
BatchOutcome SpliceTree(const std::string& rootDir, bool deleteSources, bool showProgress = false,
                        const GroupSplicer& splice = SpliceGroup);

}  // namespace tessaro
