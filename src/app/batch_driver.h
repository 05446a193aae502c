// The batch driver: scans the tree, groups the tiles by directory and splices each group.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/path_order.h"
#include "mosaic/group_splice.h"
#include "scan/tile_scan.h"

namespace tessaro {

// Splices one group: its tiles, the identity of their directory as the walk saw it, and the
// delete switch.
using GroupSplicer = std::function<bool(const TileGroup&, const DirId&, bool)>;

// The number of groups (directories) in a list sorted with SortPaths (path_order.h).
int CountDirGroups(const TileList& list);

enum class BatchOutcome {
    allSaved,       // no group failed (also when no tile was found)
    someFailed,     // at least one group failed
    rootUnreadable  // rootDir could not be opened or listed; its error has been printed
};

// Runs the whole batch below rootDir: for each group its progress line, then the splicer. Up to
// one group per usable processor is under way at once; the lines are printed in group order, a
// group's together, and flushed after each group, so a run that dies has logged every group it
// finished. With showProgress (for a terminal on standard error), a status line shows how far
// the run has got while groups are joined, and a summary line ends the run.
BatchOutcome SpliceTree(const std::string& rootDir, bool deleteSources, bool showProgress = false,
                        const GroupSplicer& splice = SpliceGroup);

}  // namespace tessaro
