// What the shared deletion logic and its system-specific steps hand each other.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "group/tile_removal.h"

namespace tessaro::removal_internal {

// Where tile number `index` waits between leaving its name and being deleted (Linux moves a tile
// there first; a run on another system clears what such a run left).
std::string DeletingName(std::size_t index);

// A tile decoded by this very run must still have every bit of its identity; one recorded by an
// earlier run may since have had its change time moved by that run's own renames.
bool Matches(const FileId& now, const FileId& recorded, bool decodedNow);

// Gives a file that must not be deleted its name back, or failing that a visible tile name of
// its own; if both are taken it waits under its private name for the next run.
void PutBack(int dirFd, const std::string& privateName, const std::string& name,
             std::size_t index);

// The system's own step.

enum class Removal { removed, absent, kept };

// Deletes tile number `index` if its name still holds the recorded file: removed, absent (gone
// already), or kept.
Removal RemoveExactly(int dirFd, std::size_t index, const TileRecord& tile, bool decodedNow);

}  // namespace tessaro::removal_internal
