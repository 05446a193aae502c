// What became of one group: the value the group's job returns, from which the driver prints the
// group's one outcome line.
#pragma once

#include <cstddef>

#include "mosaic/tile_layout.h"

namespace tessaro {

enum class GroupResult {
    saved,         // the mosaic is in place (and, when asked, the tiles are deleted)
    checked,       // a dry run: every tile measured, and they make a mosaic (nothing written)
    count,         // not 2, 4 or 6 tiles
    unreadable,    // tile `tile` cannot be read as a TIFF (or its directory is gone)
    sizeMismatch,  // two tiles that must agree do not (`mismatch` says which)
    tooLarge,      // the mosaic would not fit a bitmap file
    readFailed,    // decoding failed
    saveFailed,    // the mosaic could not be saved
    abandoned      // interrupted before it could begin: nothing to report
};

struct GroupOutcome {
    constexpr GroupOutcome() = default;
    constexpr GroupOutcome(GroupResult result, std::size_t tile = 0, LayoutFailure mismatch = {})
        : result(result), tile(tile), mismatch(mismatch) {}
    GroupResult result = GroupResult::saved;
    std::size_t tile = 0;    // unreadable: which tile, in group order
    LayoutFailure mismatch;  // sizeMismatch: which tiles, and width or height
    // The process or the system ran out of descriptors before the group changed anything: it is
    // worth trying again once some are free (`result` is its outcome should that never be).
    bool outOfDescriptors = false;
    std::size_t deleted = 0;  // tiles this run deleted
    // Saved, or in a dry run found to be one that would be.
    bool saved() const { return result == GroupResult::saved || result == GroupResult::checked; }
};

}  // namespace tessaro
