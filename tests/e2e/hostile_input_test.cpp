// Hostile inputs, end to end: whatever the tiles declare or hold and whatever lies around them,
// the real binary ends every group with its one outcome line and the run with the right status,
// inside a memory limit, without a signal and without hanging. Inputs are never changed.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "open_gate.h"
#include "run_binary.h"
#include "os/unique_fd.h"
#include "temp_dir.h"
#include "tiff/tiff_reader.h"
#include "tiff_by_path.h"
#include "tiff_fixture.h"
#include "tree_check.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using namespace testing;

constexpr long long kMemoryLimit = 512ll << 20;

RunOptions Limited() {
    RunOptions options;
    options.memoryLimitBytes = kMemoryLimit;
    options.timeoutSeconds = 120;
    return options;
}

// Every run here must end by itself, with the given status and nothing on standard error.
void ExpectCleanEnd(const RunResult& run, int exitCode) {
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, exitCode);
    EXPECT_EQ(run.err, "");
}

std::string MakeDir(const TempDir& tmp, const std::string& name) {
    const std::string dir = tmp / name;
    fs::create_directories(dir);
    return dir;
}

TEST(HostileInput, DeclaredSizesTooLargeForABitmapFailBeforeAnyPixel) {
    TempDir tmp;
    const std::string r = tmp.path();
    const std::string square = MakeDir(tmp, "square");
    WriteHeaderOnlyTiff(square + "/a.tif", 50000, 50000);
    WriteHeaderOnlyTiff(square + "/b.tif", 50000, 50000);
    const std::string narrow = MakeDir(tmp, "tall");  // 50007 x 50000: 7.5 GB of pixels
    WriteHeaderOnlyTiff(narrow + "/a.tif", 50000, 50000);
    WriteHeaderOnlyTiff(narrow + "/b.tif", 7, 50000);
    const std::string edge = MakeDir(tmp, "wide");  // 2^31 pixels wide: one more than a side may be
    WriteHeaderOnlyTiff(edge + "/a.tif", 0x7fffffffu, 1);
    WriteTile(edge + "/b.tif", MarkedTile(1, 1, 9, 9, 9));

    const RunResult run = RunTessaro({r, "1"}, Limited());
    EXPECT_EQ(run.out, ProgressLine(square, 1, 3) + kTooLargeLine + ProgressLine(narrow, 2, 3) +
                           kTooLargeLine + ProgressLine(edge, 3, 3) + kTooLargeLine);
    ExpectCleanEnd(run, 1);
    for (const std::string& dir : {square, narrow, edge})
        EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif"}));
}

TEST(HostileInput, SidesBeyondTheLargestSignedWidthAreUnreadable) {
    TempDir tmp;
    const std::string r = tmp.path();
    struct Case {
        const char* dir;
        uint32_t width, height;
    };
    const Case cases[] = {{"high", 1, 0x80000000u}, {"max", 0xffffffffu, 0xffffffffu},
                          {"wide", 0x80000000u, 1}};
    std::string expected;
    int index = 0;
    for (const Case& c : cases) {
        const std::string dir = MakeDir(tmp, c.dir);
        WriteTile(dir + "/a.tif", MarkedTile(1, 1, 1, 2, 3));
        // One strip for the whole picture (one per row would make a table of 2^31 entries).
        WriteBytes(dir + "/b.tif", HandMadeTiff(GreyStripEntries(c.width, c.height, c.height, 16),
                                                std::string(64, '\x10')));
        expected += ProgressLine(dir, ++index, 3) + UnreadableLine(dir + "/b.tif");
    }
    const RunResult run = RunTessaro({r, "1"}, Limited());
    EXPECT_EQ(run.out, expected);
    ExpectCleanEnd(run, 1);
    for (const Case& c : cases)
        EXPECT_EQ(ListNames(tmp / c.dir), (std::vector<std::string>{"a.tif", "b.tif"}));
}

// A 64 x 64 grey tile (level 0x55) in 8 strips of 512 bytes whose strip table is then bent by
// `bend`, followed by `dataBytes` bytes of its pixel data.
std::string BentStrips(void (*bend)(std::vector<HandTiffEntry>&), std::size_t dataBytes = 64 * 64) {
    std::vector<HandTiffEntry> entries = GreyStripEntries(64, 64, 8, 512);
    bend(entries);
    return HandMadeTiff(entries, std::string(dataBytes, '\x55'));
}

TEST(HostileInput, StripTablesPointingOutsideTheFileFailTheRead) {
    TempDir tmp;
    const std::string r = tmp.path();
    struct Case {
        const char* dir;
        std::string bytes;
        bool decodes;  // every pixel the tile needs is in the file after all
    };
    auto hugeCounts = [](std::vector<HandTiffEntry>& e) {
        for (uint32_t& count : e[8].values) count = 0xfffffff0u;
    };
    const Case cases[] = {
        // Byte counts of 4 GiB, but the pixels are all there: libtiff reads what a strip needs.
        {"count-huge", BentStrips(hugeCounts), true},
        {"count-huge-short", BentStrips(hugeCounts, 64 * 40), false},
        {"count-past-end", BentStrips([](auto& e) { e[8].values[7] = 100000; }, 64 * 60), false},
        {"offset-past-end", BentStrips([](auto& e) {
             for (uint32_t& offset : e[5].values) offset += 0x7ff00000u;
         }), false},
        {"offset-wraps", BentStrips([](auto& e) {
             for (uint32_t& offset : e[5].values) offset = 0xffffff00u;
         }), false},
    };
    std::string expected;
    int index = 0;
    std::vector<DecodedTile> pairs;
    for (const Case& c : cases) {
        const std::string dir = MakeDir(tmp, c.dir);
        pairs.push_back(WriteTile(dir + "/a.tif", PatternTile(64, 64)));
        WriteBytes(dir + "/b.tif", c.bytes);
        WriteBytes(dir + "/" + c.dir + ".bmp", "earlier mosaic");
        expected += ProgressLine(dir, ++index, 5) + (c.decodes ? kSuccessLine : kReadFailedLine);
    }
    const RunResult run = RunTessaro({r, "1"}, Limited());
    EXPECT_EQ(run.out, expected);
    ExpectCleanEnd(run, 1);
    const DecodedTile grey{64, 64, std::vector<uint8_t>(64 * 64 * 3, 0x55)};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.dir);
        const std::string bmp = std::string(c.dir) + ".bmp";
        if (c.decodes) {
            EXPECT_EQ(ListNames(tmp / c.dir), (std::vector<std::string>{bmp}));
            EXPECT_TRUE(SameFileBytes(ReadBytes(tmp / c.dir + "/" + bmp), ExpectedBmpFile({pairs[i], grey})));
        } else {
            EXPECT_EQ(ListNames(tmp / c.dir), (std::vector<std::string>{"a.tif", "b.tif", bmp}));
            EXPECT_EQ(ReadBytes(tmp / c.dir + "/" + bmp), "earlier mosaic");
        }
    }
}

TEST(HostileInput, TruncatedStripsFailTheRead) {
    TempDir tmp;
    const std::string r = tmp.path();
    // The directory comes first and the pixel data stops in the middle of the third strip of
    // eight, or in the middle of the only strip.
    const std::string eight = MakeDir(tmp, "eight-strips");
    WriteTile(eight + "/a.tif", PatternTile(64, 64));
    WriteBytes(eight + "/b.tif",
               HandMadeTiff(GreyStripEntries(64, 64, 8, 512), std::string(64 * 20, '\x40')));
    const std::string one = MakeDir(tmp, "one-strip");
    WriteTile(one + "/a.tif", PatternTile(64, 64));
    WriteBytes(one + "/b.tif",
               HandMadeTiff(GreyStripEntries(64, 64, 64, 4096), std::string(64 * 20, '\x40')));
    // A compressed strip cut short: libtiff writes its directory last, so cutting the file loses
    // the directory too and the tile cannot even be measured.
    const std::string cut = MakeDir(tmp, "written-then-cut");
    WriteTile(cut + "/a.tif", PatternTile(64, 64));
    TiffOptions deflate;
    deflate.compression = COMPRESSION_ADOBE_DEFLATE;
    deflate.rowsPerStrip = 64;
    WriteTiff(cut + "/b.tif", PatternTile(64, 64, 3), deflate);
    const std::string whole = ReadBytes(cut + "/b.tif");
    WriteBytes(cut + "/b.tif", whole.substr(0, whole.size() / 2));

    const RunResult run = RunTessaro({r, "1"}, Limited());
    EXPECT_EQ(run.out, ProgressLine(eight, 1, 3) + kReadFailedLine + ProgressLine(one, 2, 3) +
                           kReadFailedLine + ProgressLine(cut, 3, 3) +
                           UnreadableLine(cut + "/b.tif"));
    ExpectCleanEnd(run, 1);
    for (const std::string& dir : {eight, one, cut})
        EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif"}));
}

// A Deflate TIFF of width x height zeros in one strip: a few megabytes on disk, however large it
// decodes (zeros compress about 1000 : 1). 8-bit RGB, or 8-bit palette (which the reader decodes
// through libtiff's RGBA interface, one whole strip at a time).
void WriteZeroBomb(const std::string& path, uint32_t width, uint32_t height, bool palette) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    const uint16_t samples = palette ? 1 : 3;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, palette ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    std::vector<uint16_t> map(256, 0);
    if (palette) TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
    std::vector<uint8_t> row(std::size_t{width} * samples, 0);
    for (uint32_t y = 0; y < height; ++y) {
        if (TIFFWriteScanline(tif, row.data(), y, 0) != 1) {
            ADD_FAILURE() << "cannot write row " << y;
            break;
        }
    }
    TIFFClose(tif);
}

// Spot checks of a saved bomb mosaic, too big to compare whole: rows of the bottom, the middle and
// the top hold the bomb's zeros, then the one-pixel column's pixel, then zero padding.
void ExpectBombRows(const std::string& bmp, uint32_t side, const DecodedTile& column) {
    const std::size_t stride = (3 * std::size_t{side + 1} + 3) / 4 * 4;
    UniqueFd fd(open(bmp.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    for (uint32_t row : {0u, side / 2, side - 1}) {
        SCOPED_TRACE(row);
        std::string bytes(stride, '\x7f');
        ASSERT_EQ(pread(fd.get(), bytes.data(), stride, static_cast<off_t>(54 + row * stride)),
                  static_cast<ssize_t>(stride));
        std::string expected(3 * std::size_t{side}, '\0');
        expected.append(reinterpret_cast<const char*>(&column.bgr[3 * row]), 3);
        expected.resize(stride, '\0');
        EXPECT_TRUE(SameFileBytes(bytes, expected));
    }
}

TEST(HostileInput, DecompressionBombsFailCleanlyOrDecodeWithinTheLimit) {
    // 14000 x 14000 pixels decode to 588 MB of BGR (784 MB as an RGBA raster) against a 512 MiB
    // limit on the whole address space. Without that limit (sanitizer builds) the pictures only
    // have to pass through the same code, so they are kept small.
    const uint32_t side = RunsSlowed() ? 3000 : 14000;
    TempDir tmp;
    const std::string r = tmp.path();
    const std::string palette = MakeDir(tmp, "palette");
    const std::string rgb = MakeDir(tmp, "rgb");
    DecodedTile column;
    for (const std::string& dir : {palette, rgb}) {
        WriteZeroBomb(dir + "/a.tif", side, side, dir == palette);
        column = WriteTile(dir + "/b.tif", MarkedTile(1, side, 200, 10, 10));
        EXPECT_LT(fs::file_size(dir + "/a.tif"), 4u << 20);
    }
    const RunResult run = RunTessaro({r}, Limited());
    ExpectCleanEnd(run, run.exitCode == 0 ? 0 : 1);
    const uint64_t bmpSize = 54 + (3 * uint64_t{side + 1} + 3) / 4 * 4 * side;
    std::string expected;
    int index = 0;
    for (const std::string& dir : {palette, rgb}) {
        const std::string bmp = fs::path(dir).filename().string() + ".bmp";
        const bool saved = fs::exists(dir + "/" + bmp);
        expected += ProgressLine(dir, ++index, 2) + (saved ? kSuccessLine : kReadFailedLine);
        if (saved) {
            EXPECT_EQ(fs::file_size(dir + "/" + bmp), bmpSize);
            ExpectBombRows(dir + "/" + bmp, side, column);
            EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif", bmp}));
        } else {
            EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif"}));
        }
        std::cout << "[ observed ] bomb " << side << " x " << side << " in " << dir << ": "
                  << (saved ? "decoded and saved" : "refused with the read message") << "\n";
    }
    EXPECT_EQ(run.out, expected);
    std::cout << "[ observed ] both bombs took " << run.seconds << " s\n";
}

// Rewrites one tile in place after the binary has measured it and before it decodes it.
// `replacement` is what the tile holds from then on.
RunResult RunChangingTile(const std::string& root, const std::string& tile,
                          const std::string& replacement) {
    RunOptions options = Limited();
    options.cpus = 1;
    options.pauseAt = "measured";
    options.onPause = [&](int) {
        std::ofstream(tile, std::ios::binary | std::ios::in | std::ios::trunc) << replacement;
        return SIGCONT;
    };
    return RunTessaro({root, "1"}, options);
}

TEST(HostileInput, TileChangedBetweenMeasuringAndDecodingFailsTheRead) {
    TempDir tmp;
    WriteTiff(tmp / "taller.tif", PatternTile(64, 65, 4));
    WriteTiff(tmp / "same.tif", PatternTile(64, 64, 5));
    const std::string good = ReadBytes(tmp / "same.tif");
    const std::pair<const char*, std::string> changes[] = {
        {"another size", ReadBytes(tmp / "taller.tif")},
        {"cut in half", good.substr(0, good.size() / 2)},
        {"emptied", ""},
    };
    for (const auto& [name, replacement] : changes) {
        SCOPED_TRACE(name);
        const std::string dir = MakeDir(tmp, "group");
        WriteTile(dir + "/a.tif", PatternTile(64, 64, 1));
        WriteTile(dir + "/b.tif", PatternTile(64, 64, 2));
        const RunResult run = RunChangingTile(tmp / "group", dir + "/b.tif", replacement);
        EXPECT_EQ(run.out, ProgressLine(dir) + kReadFailedLine);
        ExpectCleanEnd(run, 1);
        EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif"}));
        EXPECT_EQ(ReadBytes(dir + "/b.tif"), replacement);
        fs::remove_all(dir);
    }
}

TEST(HostileInput, EmptyAndOneByteTilesAreUnreadable) {
    TempDir tmp;
    const std::string r = tmp.path();
    const std::string both = MakeDir(tmp, "both");
    WriteBytes(both + "/a.tif", "");
    WriteBytes(both + "/b.tif", "M");
    const std::string empty = MakeDir(tmp, "empty");
    WriteBytes(empty + "/a.tif", "");
    WriteTile(empty + "/b.tif", MarkedTile(3, 3, 1, 2, 3));
    const std::string one = MakeDir(tmp, "one");
    WriteTile(one + "/a.tif", MarkedTile(3, 3, 1, 2, 3));
    WriteBytes(one + "/b.tif", "I");
    const RunResult run = RunTessaro({r, "1"}, Limited());
    EXPECT_EQ(run.out, ProgressLine(both, 1, 3) + UnreadableLine(both + "/a.tif") +
                           ProgressLine(empty, 2, 3) + UnreadableLine(empty + "/a.tif") +
                           ProgressLine(one, 3, 3) + UnreadableLine(one + "/b.tif"));
    ExpectCleanEnd(run, 1);
    for (const std::string& dir : {both, empty, one})
        EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif"}));
}

TEST(HostileInput, DirectoriesFifosSocketsAndDevicesNamedLikeTilesAreNotTiles) {
    TempDir tmp;
    const std::string r = tmp.path();
    // A directory named x.tif next to one tile: not a tile, but a directory of its own tiles.
    const std::string dir = MakeDir(tmp, "dir");
    WriteTile(dir + "/a.tif", MarkedTile(4, 4, 1, 1, 1));
    const std::string inner = MakeDir(tmp, "dir/x.tif");
    const auto left = WriteTile(inner + "/1.tif", MarkedTile(4, 4, 10, 20, 30));
    const auto right = WriteTile(inner + "/2.tif", MarkedTile(5, 4, 30, 20, 10));
    // A FIFO no one ever writes to: opening it for reading would block forever.
    const std::string fifo = MakeDir(tmp, "fifo");
    WriteTile(fifo + "/a.tif", MarkedTile(4, 4, 1, 1, 1));
    ASSERT_EQ(mkfifo((fifo + "/x.tif").c_str(), 0644), 0);
    ASSERT_EQ(symlink("x.tif", (fifo + "/y.tif").c_str()), 0);
    // Devices behind links and a socket, next to two good tiles.
    const std::string odd = MakeDir(tmp, "odd");
    WriteTile(odd + "/a.tif", MarkedTile(4, 4, 1, 1, 1));
    WriteTile(odd + "/b.tif", MarkedTile(4, 4, 2, 2, 2));
    ASSERT_EQ(symlink("/dev/zero", (odd + "/zero.tif").c_str()), 0);
    ASSERT_EQ(symlink("/dev/urandom", (odd + "/random.tif").c_str()), 0);
    ASSERT_EQ(symlink("/dev/tty", (odd + "/tty.tif").c_str()), 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = odd + "/socket.tif";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    UniqueFd listener(socket(AF_UNIX, SOCK_STREAM, 0));
    ASSERT_EQ(bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    RunOptions options = Limited();
    options.timeoutSeconds = 30;
    const RunResult run = RunTessaro({r, "1"}, options);
    EXPECT_EQ(run.out, ProgressLine(dir, 1, 4) + CountLine(1) + ProgressLine(inner, 2, 4) +
                           kSuccessLine + ProgressLine(fifo, 3, 4) + CountLine(1) +
                           ProgressLine(odd, 4, 4) + kSuccessLine);
    ExpectCleanEnd(run, 1);
    EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "x.tif"}));
    EXPECT_EQ(ListNames(inner), (std::vector<std::string>{"x.tif.bmp"}));
    EXPECT_TRUE(SameFileBytes(ReadBytes(inner + "/x.tif.bmp"), ExpectedBmpFile({left, right})));
    EXPECT_EQ(ListNames(fifo), (std::vector<std::string>{"a.tif", "x.tif", "y.tif"}));
    EXPECT_EQ(ListNames(odd), (std::vector<std::string>{"odd.bmp", "random.tif", "socket.tif",
                                                        "tty.tif", "zero.tif"}));
}

TEST(HostileInput, LinkLoopsEndAndEachDirectoryIsJoinedOnce) {
    TempDir tmp;
    const std::string r = tmp.path();
    const std::string a = MakeDir(tmp, "a");
    const auto top = WriteTile(a + "/1.tif", MarkedTile(6, 5, 50, 60, 70));
    const auto bottom = WriteTile(a + "/2.tif", MarkedTile(7, 5, 70, 60, 50));
    ASSERT_EQ(symlink("..", (a + "/up").c_str()), 0);
    ASSERT_EQ(symlink(".", (a + "/self").c_str()), 0);
    ASSERT_EQ(symlink(r.c_str(), (a + "/root").c_str()), 0);
    ASSERT_EQ(symlink("ring.tif", (a + "/ring.tif").c_str()), 0);
    ASSERT_EQ(symlink("loop2.tif", (a + "/loop1.tif").c_str()), 0);
    ASSERT_EQ(symlink("loop1.tif", (a + "/loop2.tif").c_str()), 0);
    ASSERT_EQ(symlink("loopdir2", (a + "/loopdir1").c_str()), 0);
    ASSERT_EQ(symlink("loopdir1", (a + "/loopdir2").c_str()), 0);
    ASSERT_EQ(symlink("a", (r + "/b").c_str()), 0);
    const RunResult run = RunTessaro({r}, Limited());
    EXPECT_EQ(run.out, ProgressLine(a) + kSuccessLine);
    ExpectCleanEnd(run, 0);
    EXPECT_TRUE(SameFileBytes(ReadBytes(a + "/a.bmp"), ExpectedBmpFile({top, bottom})));
}

// Creates `depth` nested directories named "d" below `top` with mkdirat, without ever using a
// path longer than one name, and writes `tileBytes` as a.tif and b.tif into the levels listed.
void MakeDeepChain(const std::string& top, int depth, const std::vector<int>& tileLevels,
                   const std::string& tileA, const std::string& tileB) {
    UniqueFd dir(open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(dir);
    for (int level = 1; level <= depth; ++level) {
        ASSERT_EQ(mkdirat(dir.get(), "d", 0755), 0) << level;
        dir = UniqueFd(openat(dir.get(), "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ASSERT_TRUE(dir) << level;
        if (std::find(tileLevels.begin(), tileLevels.end(), level) == tileLevels.end()) continue;
        for (const auto& [name, bytes] : {std::pair{"a.tif", &tileA}, std::pair{"b.tif", &tileB}}) {
            UniqueFd file(openat(dir.get(), name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
            ASSERT_TRUE(file);
            ASSERT_EQ(write(file.get(), bytes->data(), bytes->size()),
                      static_cast<ssize_t>(bytes->size()));
        }
    }
}

std::string ChainPath(const std::string& top, int level) {
    std::string path = top;
    for (int i = 0; i < level; ++i) path += "/d";
    return path;
}

TEST(HostileInput, TreeFiveThousandDirectoriesDeepIsJoinedToTheBottom) {
    TempDir tmp;
    constexpr int kDepth = 5000;
    const std::string top = MakeDir(tmp, "deep");
    // Removed however the test ends: the temp dir's own removal cannot reach that deep.
    struct DeepRemover {
        std::string path;
        ~DeepRemover() { EXPECT_TRUE(RemoveTree(path)); }
    } remover{top};
    const auto a = WriteTile(tmp / "a.tif", MarkedTile(8, 6, 1, 100, 1));
    const auto b = WriteTile(tmp / "b.tif", MarkedTile(9, 6, 100, 1, 1));
    const std::string tileA = ReadBytes(tmp / "a.tif");
    const std::string tileB = ReadBytes(tmp / "b.tif");
    fs::remove(tmp / "a.tif");
    fs::remove(tmp / "b.tif");
    MakeDeepChain(top, kDepth, {10, 1000, kDepth}, tileA, tileB);
    // Depth 1000 keeps every path below PATH_MAX (4096 bytes); the bottom is 10000 bytes down.
    ASSERT_LT(ChainPath(top, 1000).size() + 12, 4096u);

    const RunResult run = RunTessaro({top}, Limited());
    ExpectCleanEnd(run, 0);
    const std::string shallow = ChainPath(top, 10);
    const std::string middle = ChainPath(top, 1000);
    const std::string bottom = ChainPath(top, kDepth);  // 10000 bytes: past PATH_MAX
    EXPECT_EQ(run.out, ProgressLine(shallow, 1, 3) + kSuccessLine + ProgressLine(middle, 2, 3) +
                           kSuccessLine + ProgressLine(bottom, 3, 3) + kSuccessLine);
    for (const std::string& dir : {shallow, middle})
        EXPECT_TRUE(SameFileBytes(ReadBytes(dir + "/d.bmp"), ExpectedBmpFile({a, b})));
    UniqueFd dir(open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int level = 1; level <= kDepth && dir; ++level)
        dir = UniqueFd(openat(dir.get(), "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat mosaic {};
    ASSERT_EQ(fstatat(dir.get(), "d.bmp", &mosaic, 0), 0);
    EXPECT_EQ(static_cast<std::size_t>(mosaic.st_size), ExpectedBmpFile({a, b}).size());
    std::cout << "[ observed ] 5000 deep: " << std::count(run.out.begin(), run.out.end(), '\n') / 2
              << " group(s) reported, exit " << run.exitCode << ", " << run.seconds << " s\n";
}

TEST(HostileInput, EveryOutcomeRepeatedLeaksNoDescriptorAndNoMemory) {
    // 30 rounds of every kind of outcome under a limit of 16 open files and a small address
    // space: a descriptor or a buffer left behind by any path would make later groups fail.
    constexpr int kRounds = 30;
    TempDir tmp;
    const std::string r = tmp.path();
    const std::string garbage = "II*\0garbage";
    const std::string cutStrips =
        HandMadeTiff(GreyStripEntries(16, 16, 4, 64), std::string(16 * 6, '\x20'));
    WriteTiff(tmp / "a.tif", PatternTile(16, 16, 1));
    WriteTiff(tmp / "b.tif", PatternTile(17, 16, 2));
    WriteHeaderOnlyTiff(tmp / "huge.tif", 50000, 50000);
    const std::string a = ReadBytes(tmp / "a.tif"), b = ReadBytes(tmp / "b.tif"),
                      huge = ReadBytes(tmp / "huge.tif");
    std::string expected;
    int index = 0;
    const int total = 6 * kRounds;
    for (int round = 0; round < kRounds; ++round) {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "r%02d-", round);
        auto group = [&](const std::string& kind, const std::vector<std::pair<std::string, std::string>>& files) {
            const std::string dir = MakeDir(tmp, std::string("all/") + prefix + kind);
            for (const auto& [name, bytes] : files) WriteBytes(dir + "/" + name, bytes);
            return dir;
        };
        std::string dir = group("1-count", {{"a.tif", a}, {"b.tif", b}, {"c.tif", a}});
        expected += ProgressLine(dir, ++index, total) + CountLine(3);
        dir = group("2-huge", {{"a.tif", huge}, {"b.tif", huge}});
        expected += ProgressLine(dir, ++index, total) + kTooLargeLine;
        dir = group("3-joined", {{"a.tif", a}, {"b.tif", b}});
        expected += ProgressLine(dir, ++index, total) + kSuccessLine;
        dir = group("4-read", {{"a.tif", a}, {"b.tif", cutStrips}});
        expected += ProgressLine(dir, ++index, total) + kReadFailedLine;
        dir = group("5-save", {{"a.tif", a}, {"b.tif", b}});
        fs::create_directory(dir + "/" + prefix + "5-save.bmp");
        expected += ProgressLine(dir, ++index, total) + kSaveFailedLine;
        dir = group("6-unreadable", {{"a.tif", a}, {"b.tif", garbage}});
        expected += ProgressLine(dir, ++index, total) + UnreadableLine(dir + "/b.tif");
    }
    RunOptions options;
    if (!RunsWrapped()) options.openFilesLimit = 16;  // a wrapper needs descriptors of its own
    options.memoryLimitBytes = 96ll << 20;
    options.cpus = 1;  // the limits are sized for one group in flight
    const RunResult run = RunTessaro({tmp / "all", "1"}, options);
    EXPECT_EQ(run.out, expected);
    ExpectCleanEnd(run, 1);
}

TEST(HostileInput, TheDecodingChildCanDoNothingButDecode) {
#ifdef TESSARO_VALGRIND
    GTEST_SKIP() << "a build for valgrind runs its decoding children without the filter";
#endif
    // Code running in the child, as a codec's exploit would, tries one forbidden thing a run:
    // each is refused, the child ends, and only its group pays.
    TempDir tmp;
    const std::string dir = MakeDir(tmp, "group");
    WriteTile(dir + "/1.tif", PatternTile(16, 16, 1));
    WriteTile(dir + "/2.tif", PatternTile(16, 16, 2));
    std::vector<std::string> probes{"open-file", "stat-path", "run-program", "signal",
                                    "setown",    "async",     "privileges"};
#ifndef TESSARO_SANITIZED  // (AddressSanitizer's runtime needs to ask for its limits)
    probes.push_back("raise-limits");
#endif
    for (const std::string& probe : probes) {
        SCOPED_TRACE(probe);
        RunOptions options;
        options.env.push_back("TESSARO_TEST_DECODER=" + probe);
        const RunResult run = RunTessaro({dir}, options);
        EXPECT_EQ(run.out, ProgressLine(dir) + UnreadableLine(dir + "/1.tif"));
        EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"1.tif", "2.tif"}));
    }
    // Asked for nothing it may not do, the same child joins the group.
    RunOptions harmless;
    harmless.env.push_back("TESSARO_TEST_DECODER=none");
    EXPECT_EQ(RunTessaro({dir}, harmless).out, ProgressLine(dir) + kSuccessLine);
}

TEST(HostileInput, TightLimitsNeverEndTheRunWithoutALine) {
    // Under any address-space or descriptor limit the run either cannot start (one line on
    // standard error, status 2) or gives every group its progress line and one outcome line.
    TempDir tmp;
    for (const char* name : {"a", "b"}) {
        const std::string dir = MakeDir(tmp, name);
        WriteTile(dir + "/1.tif", PatternTile(16, 16, 1));
        WriteTile(dir + "/2.tif", PatternTile(16, 16, 2));
    }
    WriteTile(MakeDir(tmp, "c") + "/1.tif", PatternTile(16, 16, 3));
    std::vector<RunOptions> limits;
    for (long long megabytes : {12, 16, 20, 24}) {
        limits.emplace_back();
        limits.back().memoryLimitBytes = megabytes << 20;
    }
    for (int files = 4; files <= 12 && !RunsWrapped(); files += 2) {
        limits.emplace_back();
        limits.back().openFilesLimit = files;
    }
    for (const RunOptions& options : limits) {
        SCOPED_TRACE("address space " + std::to_string(options.memoryLimitBytes) + ", descriptors " +
                     std::to_string(options.openFilesLimit));
        const RunResult run = RunTessaro({tmp.path()}, options);
        EXPECT_EQ(run.signal, 0);
        EXPECT_FALSE(run.timedOut);
        if (run.exitCode == 2) {
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
            continue;
        }
        EXPECT_EQ(run.exitCode, 1);
        std::istringstream lines(run.out);
        int count = 0;
        for (std::string line; std::getline(lines, line); ++count)
            EXPECT_EQ(line.rfind(count % 2 == 0 ? " ++ " : "拼接", 0), 0u) << line;
        EXPECT_EQ(count, 6) << run.out;
    }
}

TEST(HostileInput, GroupsSideBySideNeverRunEachOtherOutOfDescriptors) {
    if (RunsWrapped()) GTEST_SKIP() << "a wrapper needs descriptors of its own";
    // Few descriptors for two processors: fewer groups go side by side, and none fails for it.
    TempDir tmp;
    std::string expected;
    for (int g = 1; g <= 6; ++g) {
        const std::string dir = MakeDir(tmp, "g" + std::to_string(g));
        for (int t = 1; t <= 4; ++t)
            WriteTile(dir + "/" + std::to_string(t) + ".tif", PatternTile(256, 192, static_cast<uint8_t>(t)));
        expected += ProgressLine(dir, g, 6) + kSuccessLine;
    }
    RunOptions options;
    options.cpus = 2;
    options.openFilesLimit = 20;
    const RunResult run = RunTessaro({tmp.path()}, options);
    EXPECT_EQ(run.out, expected);
    ExpectCleanEnd(run, 0);
}

TEST(HostileInput, HundredThousandEmptyFilesInOneDirectoryAreCountedNotRead) {
    TempDir tmp;
    constexpr int kFiles = 100000;
    const std::string dir = MakeDir(tmp, "many");
    UniqueFd dirFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(dirFd);
    for (int i = 0; i < kFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%06d.tif", i);
        ASSERT_EQ(mknodat(dirFd.get(), name, S_IFREG | 0644, 0), 0) << name;
    }
    // Counted before any of them is opened: a group of too many tiles takes no descriptors that
    // groups beside it need.
    OpenGate gate(dir + "/000000.tif");
    std::atomic<bool> done{false};
    RunResult run;
    std::thread runner([&] {
        run = RunTessaro({tmp.path(), "1"}, Limited());
        done = true;
    });
    if (gate.armed()) gate.Serve([](int) {}, done);
    runner.join();
    EXPECT_EQ(gate.opens(), 0);
    EXPECT_EQ(run.out, ProgressLine(dir) + CountLine(kFiles));
    ExpectCleanEnd(run, 1);
    EXPECT_EQ(ListNames(dir).size(), static_cast<std::size_t>(kFiles));
    std::cout << "[ observed ] walk and count over " << kFiles << " files: " << run.seconds << " s\n";
}

}  // namespace
}  // namespace tessaro

namespace tessaro {
namespace {

// A 16 x 16 bilevel tile whose one JBIG strip declares a 100000 x 100000 picture: libjbig aborts
// when it cannot have the memory for it.
std::string JbigBombTile() {
    std::vector<HandTiffEntry> entries = {
        {256, 4, {16}}, {257, 4, {16}}, {258, 3, {1}}, {259, 3, {34661}}, {262, 3, {0}},
        {273, 4, {0}},  {277, 3, {1}},  {278, 4, {16}}, {279, 4, {40}}};
    entries[5].values[0] = HandMadeDataOffset(entries);
    std::string header = {0, 0, 1, 0, 0, 1, static_cast<char>(0x86), static_cast<char>(0xa0),
                          0, 1, static_cast<char>(0x86), static_cast<char>(0xa0), 0, 0, 0, 16,
                          0, 0, 0, 0};
    return HandMadeTiff(entries, header + std::string(20, '\0'));
}

TEST(HostileInput, ADecoderThatDiesCostsOnlyItsGroup) {
    TempDir tmp;
    const std::string bomb = MakeDir(tmp, "a-bomb");
    WriteBytes(bomb + "/1.tif", JbigBombTile());
    WriteTile(bomb + "/2.tif", PatternTile(16, 16));
    const std::string good = MakeDir(tmp, "b-good");
    WriteTile(good + "/1.tif", PatternTile(16, 16, 1));
    WriteTile(good + "/2.tif", PatternTile(16, 16, 2));
    // One group at a time or two side by side: the same lines, the same files.
    for (int cpus : {2, 1}) {
        RunOptions options;
        options.cpus = cpus;
        const RunResult run = RunTessaro({tmp.path()}, options);
        EXPECT_EQ(run.out, ProgressLine(bomb, 1, 2) + kReadFailedLine + ProgressLine(good, 2, 2) + kSuccessLine);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(ListNames(bomb), (std::vector<std::string>{"1.tif", "2.tif"}));
        EXPECT_EQ(ListNames(good), (std::vector<std::string>{"1.tif", "2.tif", "b-good.bmp"}));
    }

    // A decoder made to crash, abort, spin or exhaust its memory while measuring: the group gets
    // the unreadable-tile message, keeps its tiles, and the run goes on.
    // (Under valgrind, a death by a processor limit is itself reported as a finding.)
    std::vector<std::string> modes = {"crash", "abort"};
    if (!RunsWrapped()) modes.push_back("spin");
    if (!RunsSlowed()) modes.push_back("hog");
    for (const std::string& mode : modes) {
        SCOPED_TRACE(mode);
        RunOptions options;
        options.env.push_back("TESSARO_TEST_DECODER=" + mode);
        const RunResult contained = RunTessaro({tmp.path(), "1"}, options);
        EXPECT_EQ(contained.out, ProgressLine(bomb, 1, 2) + UnreadableLine(bomb + "/1.tif") +
                                     ProgressLine(good, 2, 2) + UnreadableLine(good + "/1.tif"));
        EXPECT_EQ(contained.exitCode, 1);
        EXPECT_EQ(contained.signal, 0);
        // A sanitizer in the child still writes its report of the crash to standard error.
        if (!RunsSlowed()) {
            EXPECT_EQ(contained.err, "");
        }
        EXPECT_EQ(ListNames(bomb), (std::vector<std::string>{"1.tif", "2.tif"}));
    }
}

}  // namespace
}  // namespace tessaro
