// Deleting a saved group's tiles so that a deletion cut short is finished later, never mistaken
// for a new group.
//
// Tiles go one unlink at a time, so a run killed in between, or tiles that cannot be deleted,
// leave part of a group beside its complete mosaic. Joined again, those leftovers would make a
// smaller mosaic replace the complete one, and the deleted tiles' pixels would be gone for good.
// So before the first tile goes, a hidden journal beside the mosaic lists the tiles (name and
// file identity), flushed to disk; it is removed once every tile is gone. A later run that finds
// the journal, the mosaic and only tiles the journal lists knows the group is already saved.
#pragma once

#include <string>

#include "scan/tile_scan.h"

namespace tessaro {

// The journal of the mosaic at mosaicPath: ".NAME.bmp.tessaro-journal" beside it (hidden, and
// never named like a tile or a mosaic).
std::string RemovalJournalPath(const std::string& mosaicPath);

// True when the group is what an earlier run saved as mosaicPath and had begun to delete: the
// mosaic and its journal exist and every tile of the group is one the journal lists.
bool IsSavedGroup(const TileGroup& group, const std::string& mosaicPath);

// Records the tiles in the journal, flushed to stable storage, then deletes them in group order.
// A tile that cannot be deleted is skipped and the rest are still attempted; the journal is
// removed only when every tile is gone. If the journal cannot be written, no tile is deleted.
void DeleteTiles(const TileGroup& group, const std::string& mosaicPath);

}  // namespace tessaro
