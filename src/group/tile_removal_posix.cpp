// Deleting a tile on Linux: it is moved to a private name, checked there, and only then unlinked;
// anything else is put back.
#include <cerrno>

#include "group/tile_removal_internal.h"
#include "os/pinned_dir.h"

namespace tessaro::removal_internal {

Removal RemoveExactly(int dirFd, std::size_t index, const TileRecord& tile, bool decodedNow) {
    const auto goneOrKept = [] { return errno == ENOENT ? Removal::absent : Removal::kept; };
    const std::optional<EntryStatus> before = StatEntry(dirFd, tile.name);
    if (!before) return goneOrKept();
    if (!Matches(before->id, tile.atName, decodedNow)) return Removal::kept;
    // Moving it first leaves no moment in which a file renamed into place could be unlinked:
    // whatever is under the private name is checked before it goes.
    const std::string privateName = DeletingName(index);
    if (!RenameEntry(dirFd, tile.name, privateName, false)) return goneOrKept();
    PauseForTest("moved");
    const std::optional<EntryStatus> moved = StatEntry(dirFd, privateName);
    if (moved && SameContents(moved->id, tile.atName) && RemoveEntry(dirFd, privateName)) {
        PauseForTest("deleted");
        return Removal::removed;
    }
    PutBack(dirFd, privateName, tile.name, index);
    return Removal::kept;
}

}  // namespace tessaro::removal_internal
