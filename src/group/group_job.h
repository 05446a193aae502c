// A group's job: one directory's tiles become one mosaic saved in that directory.
#pragma once

#include "decode/fill_meter.h"
#include "group/group_outcome.h"
#include "scan/tile_scan.h"

namespace tessaro {

// Plans the layout, writes the mosaic into a temporary file in the group's directory, puts it in
// place atomically, and with deleteSources deletes the tiles once the mosaic is on stable
// storage. Every step works in the directory the walk listed (group.dirId), under its lock; the
// tiles are opened once, and what is deleted is exactly what was decoded. What is left of a group
// whose deletion was cut short counts as saved (its deletion is finished with deleteSources). The
// fill's progress goes to `meter`, if any. Prints nothing: the outcome says what happened.
//
// A dry run opens the directory and the tiles and measures them (in the decoding child, as any
// run does) up to the layout, then stops with "checked": it takes no lock, tidies nothing, and
// writes and deletes nothing.
struct GroupTask {
    bool deleteSources = false;
    bool dryRun = false;
};
GroupOutcome SpliceGroup(const ScannedGroup& group, const GroupTask& task, FillMeter* meter = nullptr);

}  // namespace tessaro
