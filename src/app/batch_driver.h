// The batch driver: scans the tree, groups the tiles by directory and splices each group.
#pragma once

#include <functional>
#include <optional>
#include <vector>
#include <string>

#include "scan/path_order.h"
#include "group/group_job.h"
#include "scan/tile_scan.h"

namespace tessaro {

// Splices one group as the walk found it, with the delete switch and the meter its fill reports
// to (null when nothing shows progress).
using GroupSplicer = std::function<GroupOutcome(const ScannedGroup&, bool, FillMeter*)>;

enum class BatchOutcome {
    allSaved,       // no group failed (also when no tile was found)
    someFailed,     // at least one group failed
    rootUnreadable  // rootDir could not be opened or listed; its error has been printed
};

// Runs the whole batch below rootDir: for each group its progress line, then the splicer, then the
// group's outcome line. Up to
// one group per usable processor is under way at once; the lines are printed in group order, a
// group's together, and flushed after each group, so a run that dies has logged every group it
// finished. With showProgress (for a terminal on standard error), a status line shows how far
// the run has got while groups are joined, and a summary line ends the run.
// The groups below rootDir, in the run's order; empty (and its error printed) when rootDir cannot
// be walked.
std::optional<std::vector<ScannedGroup>> ScanTree(const std::string& rootDir);

// Prints each group's directory on a line of its own, or ended by a NUL with nulSeparated: the
// manifest --list gives, which --from takes.
void ListGroups(const std::vector<ScannedGroup>& groups, bool nulSeparated);

// The same for groups given (a group without tiles gets the count message).
BatchOutcome SpliceGroups(std::vector<ScannedGroup> groups, bool deleteSources, bool showProgress,
                          const GroupSplicer& splice = SpliceGroup, int maxJobs = 0);

// maxJobs, when above 0, caps the groups side by side (-j).
BatchOutcome SpliceTree(const std::string& rootDir, bool deleteSources, bool showProgress = false,
                        const GroupSplicer& splice = SpliceGroup, int maxJobs = 0);

}  // namespace tessaro
