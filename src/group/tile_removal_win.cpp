// Deleting a tile on Windows: the tile is checked and marked for deletion through one handle of
// it, so a file renamed into the tile's place is never deleted. A tile another program holds open
// without sharing deletion, or a read-only one, cannot be marked: it stays.
#include "group/tile_removal_internal.h"
#include "os/pinned_dir.h"

namespace tessaro::removal_internal {

Removal RemoveExactly(int dirFd, std::size_t, const TileRecord& tile, bool decodedNow) {
    const GuardedRemoval removal = RemoveEntryIfStill(dirFd, tile.name, [&](const FileId& now) {
        return Matches(now, tile.atName, decodedNow);
    });
    switch (removal) {
        case GuardedRemoval::removed: return Removal::removed;
        case GuardedRemoval::absent: return Removal::absent;
        case GuardedRemoval::kept: break;
    }
    return Removal::kept;
}

}  // namespace tessaro::removal_internal
