// Knobs and introspection for the band reader, shared by the reader and its tests. Production
// code calls ReadTileBands(), which uses the defaults.
#pragma once

#include <cstddef>

#include "tiff/tiff_reader.h"

namespace tessaro::tiff_detail {

struct BandTuning {
    // Decode through the direct path when the file qualifies (else always through the RGBA
    // interface).
    bool allowDirect = true;
    // Bands hold up to about this many bytes of band buffer (at least one row). The direct
    // path's whole strips and every route's tiles group whole strips or rows of tiles, and such
    // a band is never smaller than one strip or one row of tiles (but see maxTileRowBytes).
    std::size_t bandBytes = std::size_t{4} << 20;
    // A row of tiles whose band would take more than this goes in thinner bands of about this
    // size, each decoding the row's tiles again, so a wide picture in tall tiles costs one
    // decoded tile and a bounded band rather than a whole row of tiles.
    std::size_t maxTileRowBytes = std::size_t{16} << 20;
    // In the direct path, strips that decode to more than this are read scanline by scanline
    // rather than whole, so one huge compressed strip costs a scanline, not the picture. (The
    // RGBA interface's strips are always read a few rows at a time.)
    std::size_t maxStripBytes = std::size_t{8} << 20;
};

enum class BandPath {
    none,             // the read failed before choosing
    rgba,             // libtiff's RGBA conversion: strips a few rows at a time, tiles (and
                      // separate planes, subsampled YCbCr) a band of strips or tile rows at a time
    directStrips,     // whole strips decoded straight into BGR rows
    directScanlines,  // scanline by scanline (huge strips)
    directTiles       // rows of tiles decoded straight into BGR rows
};

ReadOutcome ReadTileBandsTuned(int fd, TileSize expected, const BandSink& sink,
                               const BandTuning& tuning, BandPath* taken = nullptr);

}  // namespace tessaro::tiff_detail
