// Keeping the only copy: a mosaic that holds the pixels of tiles an earlier run deleted is never
// destroyed by a later save in its directory. Before a new mosaic takes its name, it is kept
// beside it under a numbered backup name, as GNU mv --backup=numbered names them.
#pragma once

#include <string>

#include "group/tile_removal.h"

namespace tessaro {

// True when the file at mosaicName is the journal's mosaic (for an old journal, any regular file)
// and a tile the journal lists is no longer at its name as it was: its pixels may be nowhere else.
bool HoldsDeletedTiles(int dirFd, const std::string& mosaicName, const RemovalJournal& journal);

// Gives the mosaic a second name beside it, "NAME.bmp.~1~" or, when that is taken, the next free
// number, and puts that name on stable storage. False when no such name could be made.
bool KeepNumberedBackup(int dirFd, const std::string& mosaicName);

}  // namespace tessaro
