// Deleting a tile on Linux: it is moved to a private name, checked there, and only then unlinked;
// anything else is put back.
#include <cerrno>

#include "group/tile_removal_internal.h"
#include "os/pinned_dir.h"

namespace tessaro::removal_internal {

bool RemoveExactly(int dirFd, std::size_t index, const TileRecord& tile, bool decodedNow) {
    const std::optional<EntryStatus> before = StatEntry(dirFd, tile.name);
    if (!before) return errno == ENOENT;
    if (!Matches(before->id, tile.atName, decodedNow)) return false;
    // Moving it first leaves no moment in which a file renamed into place could be unlinked:
    // whatever is under the private name is checked before it goes.
    const std::string privateName = DeletingName(index);
    if (!RenameEntry(dirFd, tile.name, privateName, false)) return errno == ENOENT;
    PauseForTest("moved");
    const std::optional<EntryStatus> moved = StatEntry(dirFd, privateName);
    if (moved && SameContents(moved->id, tile.atName) && RemoveEntry(dirFd, privateName)) {
        PauseForTest("deleted");
        return true;
    }
    PutBack(dirFd, privateName, tile.name, index);
    return false;
}

}  // namespace tessaro::removal_internal
