// Group splicing: one directory's tiles become one mosaic saved in that directory.
#pragma once

#include <optional>
#include <string>

#include "mosaic/mosaic_path.h"
#include "os/file_id.h"
#include "scan/tile_scan.h"

namespace tessaro {

// Plans the layout, writes the mosaic into a temporary file in the group's directory, puts it in
// place atomically, and with deleteSources deletes the tiles once the mosaic is on stable
// storage. Every step works in the directory the walk listed (dirId), under its lock; the tiles
// are opened once, and what is deleted is exactly what was decoded. What is left of a group whose
// deletion was cut short counts as saved (its deletion is finished with deleteSources). Prints
// exactly one outcome line; true when the mosaic is saved.
bool SpliceGroup(const TileGroup& group, const DirId& dirId, bool deleteSources);

}  // namespace tessaro
