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

// Splices one group as the walk found it, with the task and the meter its fill reports to (null
// when nothing shows progress).
using GroupSplicer = std::function<GroupOutcome(const ScannedGroup&, const GroupTask&, FillMeter*)>;

enum class BatchOutcome {
    allSaved,       // no group failed (also when no tile was found)
    someFailed,     // at least one group failed, or the report could not be written
    rootUnreadable  // rootDir could not be opened or listed; its error has been printed
};

// How a run goes.
struct RunOptions {
    bool deleteSources = false;
    bool dryRun = false;        // measure and check only: write and delete nothing
    bool showProgress = false;  // a status line and a summary, for a terminal on standard error
    int maxJobs = 0;            // when above 0, caps the groups side by side (-j)
    int reportFd = -1;          // where each group's report line goes (report.h), if anywhere
    std::string reportPath;     // its name, for the error should writing it fail
};

// The groups below rootDir, in the run's order; empty (and its error printed) when rootDir cannot
// be walked.
std::optional<GroupList> ScanTree(const std::string& rootDir);

// Prints each group's directory on a line of its own, or ended by a NUL with nulSeparated: the
// manifest --list gives, which --from takes.
void ListGroups(const GroupList& groups, bool nulSeparated);

// Runs the batch over the groups given: for each its progress line, then the splicer, then the
// group's outcome line (a group without tiles gets the count message). Up to one group per usable
// processor is under way at once; the lines are printed in group order, a group's together, and
// flushed after each group, so a run that dies has logged every group it finished. A group's
// lines are let go once printed.
BatchOutcome SpliceGroups(GroupList groups, const RunOptions& options,
                          const GroupSplicer& splice = SpliceGroup);

// The same for the groups below rootDir.
BatchOutcome SpliceTree(const std::string& rootDir, const RunOptions& options,
                        const GroupSplicer& splice = SpliceGroup);

}  // namespace tessaro
