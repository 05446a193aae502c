// Test helper: runs the band reader and glues its bands back into one bottom-up picture,
// checking on the way that every row arrives exactly once and each band is well-formed.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tiff/tiff_reader.h"
#include "tiff/tiff_reader_internal.h"
#include "tiff_by_path.h"

namespace tessaro::testing {

struct Assembled {
    ReadOutcome outcome = ReadOutcome::failed;
    tiff_detail::BandPath path = tiff_detail::BandPath::none;
    std::vector<uint8_t> bytes;  // height rows of 3 x width bytes, bottom row first
    int bands = 0;
    int maxBandRows = 0;
};

inline Assembled AssembleBands(const std::string& file, TileSize size,
                               const tiff_detail::BandTuning& tuning = {}) {
    Assembled result;
    const std::size_t rowBytes = std::size_t{3} * size.width;
    result.bytes.assign(rowBytes * size.height, 0);
    std::vector<int> deliveries(size.height, 0);
    auto sink = [&](const TileBand& band) {
        EXPECT_GE(band.firstRow, 0);
        EXPECT_GE(band.rowCount, 1);
        EXPECT_LE(band.firstRow + band.rowCount, size.height);
        EXPECT_NE(band.data, nullptr);
        if (band.firstRow < 0 || band.rowCount < 1 || band.firstRow + band.rowCount > size.height)
            return false;
        std::memcpy(result.bytes.data() + band.firstRow * rowBytes, band.data,
                    band.rowCount * rowBytes);
        for (int r = band.firstRow; r < band.firstRow + band.rowCount; ++r) ++deliveries[r];
        ++result.bands;
        result.maxBandRows = std::max(result.maxBandRows, band.rowCount);
        return true;
    };
    result.outcome = tiff_detail::ReadTileBandsTuned(file, size, sink, tuning, &result.path);
    if (result.outcome == ReadOutcome::ok) {
        for (int r = 0; r < size.height; ++r)
            EXPECT_EQ(deliveries[r], 1) << "row " << r << " of " << file;
    }
    return result;
}

}  // namespace tessaro::testing
