// The TIFF reader on what only Linux offers the tests: the memory it needs, measured under an
// address-space limit in a forked child, FIFOs named like tiles, and descriptors.
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "band_assembly.h"
#include "temp_dir.h"
#include "tiff/tiff_reader.h"
#include "tiff/tiff_reader_internal.h"
#include "tiff_by_path.h"
#include "tiff_fixture.h"
#include "os/unique_fd.h"
#include "tree_check.h"

namespace tessaro::testing {
namespace {

using tiff_detail::BandPath;

// Runs `body` in a child process whose address space may grow by at most `extraBytes`, and
// returns whether it exited with code 0.
template <typename Body>
void ExpectWithinAddressSpace(std::size_t extraBytes, Body body) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "address-space limits mean nothing under AddressSanitizer";
#endif
    EXPECT_EXIT(
        {
            // Every large block gets its own mapping (counted against the limit) and no free
            // heap left over from earlier tests can be reused unnoticed.
            mallopt(M_MMAP_THRESHOLD, 128 * 1024);
            malloc_trim(0);
            std::ifstream statm("/proc/self/statm");
            std::size_t pages = 0;
            statm >> pages;
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max =
                pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) + extraBytes;
            if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
            _exit(body() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(TiffSizeQuery, DescriptorServesEveryCallAndKeepsItsOffset) {
    // libtiff reads through a duplicate, which shares the caller's file offset: the second call
    // on the descriptor used to find it past the header and fail.
    TempDir dir;
    const RgbImage picture = PatternTile(40, 30);
    WriteTiff(dir / "tile.tif", picture);
    UniqueFd fd(::open((dir / "tile.tif").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    EXPECT_EQ(TIFFWH(fd.get()), (TileSize{40, 30}));
    EXPECT_EQ(TIFFWH(fd.get()), (TileSize{40, 30}));
    std::vector<uint8_t> bytes(std::size_t{120} * 30);
    auto sink = [&](const TileBand& band) {
        std::memcpy(bytes.data() + std::size_t{120} * band.firstRow, band.data,
                    std::size_t{120} * band.rowCount);
        return true;
    };
    EXPECT_EQ(ReadTileBands(fd.get(), {40, 30}, sink), ReadOutcome::ok);
    EXPECT_EQ(bytes, ExpectedBgrBottomUp(picture));
    EXPECT_EQ(::lseek(fd.get(), 0, SEEK_CUR), 0);
}

TEST(TiffSizeQuery, MeasuresAHugeHeaderOnlyFileWithoutAllocatingIt) {
    // 50000 x 50000 grey claims 2.5 GB of pixels that are not there.
    TempDir dir;
    const std::string path = dir / "huge.tif";
    WriteBytes(path, HandMadeTiff(GreyStripEntries(50000, 50000, 50000, 2500000000u), ""));
    ExpectWithinAddressSpace(std::size_t{64} << 20, [&] {
        return TIFFWH(path) == std::optional<TileSize>(TileSize{50000, 50000});
    });
    // Its pixels are missing, so decoding fails (quickly, and without a picture-sized buffer).
    ExpectWithinAddressSpace(std::size_t{64} << 20, [&] {
        return ReadTileBands(path, {50000, 50000}, [](const TileBand&) { return true; }) ==
               ReadOutcome::failed;
    });
}

TEST(TiffHostileFiles, FifoNamedLikeATileFailsWithoutBlocking) {
    TempDir dir;
    const std::string fifo = dir / "x.tif";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    // No writer ever opens the FIFO: a reader that blocked would be killed by the alarm.
    EXPECT_EXIT(
        {
            alarm(10);
            const bool allFailed =
                !TIFFWH(fifo).has_value() && !ReadData(fifo).has_value() &&
                ReadTileBands(fifo, {1, 1}, [](const TileBand&) { return true; }) ==
                    ReadOutcome::failed;
            _exit(allFailed ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(TiffReaderBands, HugeCompressedStripIsReadInLittleMemory) {
    // One LZW strip of 3000 x 2000 RGB: 18 MB decoded, 24 MB as a whole-picture raster, about
    // 11 MB compressed. The band read needs the compressed strip (libtiff reads it whole) and one
    // band; the reference read cannot work in the same room.
    TempDir dir;
    TiffOptions options;
    options.compression = COMPRESSION_LZW;
    options.rowsPerStrip = 2000;
    const std::string path = dir / "strip.tif";
    WriteTiff(path, PatternTile(3000, 2000), options);
    EXPECT_EQ(AssembleBands(path, {3000, 2000}).path, BandPath::directScanlines);
    ExpectWithinAddressSpace(std::size_t{24} << 20, [&] {
        const bool bandsFit =
            ReadTileBands(path, {3000, 2000}, [](const TileBand&) { return true; }) ==
            ReadOutcome::ok;
        const bool wholeFits = ReadData(path).has_value();
        return bandsFit && !wholeFits;
    });
}

TEST(TiffReaderBands, HugeStripOfAKindOnlyTheRgbaInterfaceTakesIsReadInLittleMemory) {
    // One CCITT G4 strip of 3000 x 2000 min-is-white pixels: 750 KB decoded, a 24 MB raster for
    // the RGBA interface. Decoded a few rows at a time, it needs one band.
    TempDir dir;
    TiffOptions options;
    options.photometric = PHOTOMETRIC_MINISWHITE;
    options.bitsPerSample = 1;
    options.compression = COMPRESSION_CCITTFAX4;
    options.rowsPerStrip = 2000;
    const std::string path = dir / "fax.tif";
    WriteTiff(path, MarkedTile(3000, 2000, 250, 250, 250), options);
    EXPECT_EQ(AssembleBands(path, {3000, 2000}).path, BandPath::rgba);
    ExpectWithinAddressSpace(std::size_t{12} << 20, [&] {
        const bool bandsFit =
            ReadTileBands(path, {3000, 2000}, [](const TileBand&) { return true; }) ==
            ReadOutcome::ok;
        return bandsFit && !ReadData(path).has_value();
    });
}

}  // namespace
}  // namespace tessaro::testing
