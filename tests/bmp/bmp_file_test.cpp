#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "bmp/bmp_file.h"
#include "bmp/bmp_file_internal.h"
#include "bmp_by_path.h"
#include "temp_dir.h"

namespace tessaro {
namespace {

using bmp_internal::BmpFileMethods;
using Bytes = std::vector<uint8_t>;
using testing::TempDir;

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every entry of a directory, hidden ones included, sorted.
std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class UmaskGuard {
public:
    explicit UmaskGuard(mode_t mask) : old_(umask(mask)) {}
    ~UmaskGuard() { umask(old_); }
    UmaskGuard(const UmaskGuard&) = delete;
    UmaskGuard& operator=(const UmaskGuard&) = delete;

private:
    mode_t old_;
};

// A 5 x 2 picture: two rows of 15 pixel bytes, each padded with one byte to 16.
constexpr int32_t kWidth = 5;
constexpr int32_t kHeight = 2;
Bytes Row(uint8_t first) {
    Bytes row(3 * kWidth);
    for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(first + i);
    return row;
}
Bytes ExpectedFiveByTwo() {
    const auto header = MakeBmpHeader(kWidth, kHeight);
    Bytes expected(header.begin(), header.end());
    for (uint8_t first : {uint8_t{0x10}, uint8_t{0x80}}) {
        const Bytes row = Row(first);
        expected.insert(expected.end(), row.begin(), row.end());
        expected.push_back(0);  // padding, never written
    }
    return expected;
}

// ---- The public entry points, with whatever method this system supports ----

TEST(BmpFile, CreateWriteSaveRoundTrip) {
    TempDir dir;
    const std::string target = dir / "out.bmp";
    auto file = CreateBmp24(target, kWidth, kHeight);
    ASSERT_TRUE(file);
    // Rows go in at their own offsets, in any order.
    EXPECT_TRUE(WriteBmpPixels(*file, BmpStride(kWidth), Row(0x80).data(), 3 * kWidth));
    EXPECT_TRUE(WriteBmpPixels(*file, 0, Row(0x10).data(), 3 * kWidth));
    EXPECT_FALSE(std::filesystem::exists(target));  // nothing appears before the save
    ASSERT_TRUE(SaveBmp24(*file, false));
    EXPECT_TRUE(file->saved);
    EXPECT_EQ(ReadBytes(target), ExpectedFiveByTwo());
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"out.bmp"});
}

TEST(BmpFile, GatheredPiecesGoInOneAfterTheOther) {
    TempDir dir;
    auto file = CreateBmp24(dir / "out.bmp", kWidth, kHeight);
    ASSERT_TRUE(file);
    const Bytes low = Row(0x10), high = Row(0x80);
    const uint8_t padding = 0;
    // Both rows and their padding in one write, the first row in two pieces, an empty one between.
    const std::vector<BmpPiece> pieces = {{low.data(), 6}, {low.data() + 6, 9}, {high.data(), 0},
                                          {&padding, 1},   {high.data(), 15}};
    EXPECT_TRUE(WriteBmpPixels(*file, 0, pieces));
    // Past the pixel block, or more pieces than allowed: nothing is written.
    const Bytes spill(17, 0xAB);
    EXPECT_FALSE(WriteBmpPixels(*file, 16, std::vector<BmpPiece>{{spill.data(), 17}}));
    EXPECT_FALSE(WriteBmpPixels(*file, 0, std::vector<BmpPiece>(kMaxBmpPieces + 1, {spill.data(), 0})));
    ASSERT_TRUE(SaveBmp24(*file, false));
    EXPECT_EQ(ReadBytes(dir / "out.bmp"), ExpectedFiveByTwo());
}

TEST(BmpFile, TargetWithoutDirectoryIsRelativeToTheWorkingDirectory) {
    TempDir dir;
    const std::string oldCwd = std::filesystem::current_path().string();
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    auto file = CreateBmp24("plain.bmp", 1, 1);
    const bool saved = file && SaveBmp24(*file, false);
    ASSERT_EQ(chdir(oldCwd.c_str()), 0);
    ASSERT_TRUE(saved);
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"plain.bmp"});
}

TEST(BmpFile, CreateFailsWithoutAUsableDirectoryOrSize) {
    TempDir dir;
    EXPECT_FALSE(CreateBmp24(dir / "missing/out.bmp", 1, 1));
    EXPECT_FALSE(CreateBmp24(dir.path() + "/", 1, 1));  // no file name
    EXPECT_FALSE(CreateBmp24(dir / "out.bmp", 0, 1));
    EXPECT_FALSE(CreateBmp24(dir / "out.bmp", 1, -1));
    EXPECT_FALSE(CreateBmp24(dir / "out.bmp", 40000, 40000));  // over 4 GiB: sizes overflow
    EXPECT_TRUE(ListDir(dir.path()).empty());
}

TEST(BmpFile, CreateFailsInADirectoryWithoutWritePermission) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write to any directory";
    TempDir dir;
    const std::string locked = dir / "locked";
    ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
    EXPECT_FALSE(CreateBmp24(locked + "/out.bmp", 1, 1));
    EXPECT_TRUE(ListDir(locked).empty());
}

TEST(BmpFile, WritesOutsideThePixelBlockAreRejected) {
    TempDir dir;
    auto file = CreateBmp24(dir / "out.bmp", kWidth, kHeight);  // 32-byte pixel block
    ASSERT_TRUE(file);
    const Bytes block(33, 0xAB);
    EXPECT_TRUE(WriteBmpPixels(*file, 0, block.data(), 32));
    EXPECT_TRUE(WriteBmpPixels(*file, 31, block.data(), 1));
    EXPECT_TRUE(WriteBmpPixels(*file, 32, block.data(), 0));
    EXPECT_FALSE(WriteBmpPixels(*file, 0, block.data(), 33));
    EXPECT_FALSE(WriteBmpPixels(*file, 31, block.data(), 2));
    EXPECT_FALSE(WriteBmpPixels(*file, 32, block.data(), 1));
    EXPECT_FALSE(WriteBmpPixels(*file, std::numeric_limits<uint64_t>::max(), block.data(), 1));
    EXPECT_FALSE(WriteBmpPixels(*file, 1, block.data(), std::numeric_limits<std::size_t>::max()));
    ASSERT_TRUE(SaveBmp24(*file, false));
    EXPECT_EQ(ReadBytes(dir / "out.bmp").size(), kBmpHeaderSize + 32u);  // nothing spilled over
}

TEST(BmpFile, ASavedFileTakesNoMoreWritesOrSaves) {
    TempDir dir;
    auto file = CreateBmp24(dir / "out.bmp", 1, 1);
    ASSERT_TRUE(file);
    ASSERT_TRUE(SaveBmp24(*file, false));
    const uint8_t pixel[3] = {1, 2, 3};
    EXPECT_FALSE(WriteBmpPixels(*file, 0, pixel, 3));
    EXPECT_FALSE(SaveBmp24(*file, false));
    EXPECT_EQ(ReadBytes(dir / "out.bmp").size(), 58u);
}

// ---- Every way of making and placing the file: unnamed linked by descriptor, unnamed linked
// through /proc (what users without CAP_DAC_READ_SEARCH get), and the hidden named file used
// where unnamed files are not supported ----

struct Method {
    const char* name;
    BmpFileMethods methods;
};

class BmpTempFile : public ::testing::TestWithParam<Method> {
protected:
    std::optional<BmpFile> Create(const std::string& target, int32_t width, int32_t height) {
        return bmp_internal::CreateBmp24With(target, width, height, GetParam().methods);
    }
    bool Save(BmpFile& file, bool durable) {
        return bmp_internal::SaveBmp24With(file, durable, GetParam().methods);
    }
    bool Named() const { return !GetParam().methods.unnamedTemp; }

    TempDir dir_;
};

TEST_P(BmpTempFile, RoundTripPlainAndDurable) {
    for (bool durable : {false, true}) {
        SCOPED_TRACE(durable ? "durable" : "plain");
        const std::string target = dir_ / "out.bmp";
        auto file = Create(target, kWidth, kHeight);
        ASSERT_TRUE(file);
        EXPECT_TRUE(WriteBmpPixels(*file, 0, Row(0x10).data(), 3 * kWidth));
        EXPECT_TRUE(WriteBmpPixels(*file, BmpStride(kWidth), Row(0x80).data(), 3 * kWidth));
        ASSERT_TRUE(Save(*file, durable));
        EXPECT_EQ(ReadBytes(target), ExpectedFiveByTwo());
        EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{"out.bmp"});
    }
}

TEST_P(BmpTempFile, SavingOverALongerFileLeavesExactlyTheNewBitmap) {
    const std::string target = dir_ / "out.bmp";
    WriteText(target, std::string(10000, 'x'));
    auto file = Create(target, 1, 1);
    ASSERT_TRUE(file);
    const uint8_t pixel[3] = {0x11, 0x22, 0x33};
    ASSERT_TRUE(WriteBmpPixels(*file, 0, pixel, 3));
    EXPECT_EQ(ReadText(target), std::string(10000, 'x'));  // untouched until the save
    ASSERT_TRUE(Save(*file, false));
    const Bytes bytes = ReadBytes(target);
    ASSERT_EQ(bytes.size(), 58u);
    EXPECT_EQ(Bytes(bytes.begin() + kBmpHeaderSize, bytes.end()), (Bytes{0x11, 0x22, 0x33, 0}));
    EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{"out.bmp"});
}

TEST_P(BmpTempFile, SavedModeIsTheUmaskedDefault) {
    for (mode_t mask : {mode_t{027}, mode_t{002}}) {
        UmaskGuard guard(mask);
        const std::string target = dir_ / ("mask" + std::to_string(mask) + ".bmp");
        auto file = Create(target, 1, 1);
        ASSERT_TRUE(file);
        ASSERT_TRUE(Save(*file, false));
        struct stat info {};
        ASSERT_EQ(stat(target.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask) << "umask " << std::oct << mask;
    }
}

// Lowers the file-size limit with SIGXFSZ ignored, so going over it is an error (EFBIG) rather
// than the end of the test program.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = old_;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    sighandler_t oldHandler_ = SIG_DFL;
};

TEST_P(BmpTempFile, SpaceThatCannotBeReservedFailsAtCreation) {
    const std::string target = dir_ / "out.bmp";
    WriteText(target, "earlier picture");
    {
        FileSizeLimit limit(1000);
        EXPECT_FALSE(Create(target, 100, 100));  // 30054 bytes
    }
    EXPECT_EQ(ReadText(target), "earlier picture");
    EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{"out.bmp"});
}

TEST_P(BmpTempFile, OnlyAHiddenNonPictureNameExistsBeforeTheSave) {
    auto file = Create(dir_ / "out.bmp", 1, 1);
    ASSERT_TRUE(file);
    const auto names = ListDir(dir_.path());
    if (!Named()) {
        EXPECT_TRUE(names.empty());
        return;
    }
    ASSERT_EQ(names.size(), 1u);
    const std::string& temp = names[0];
    EXPECT_EQ(temp[0], '.');
    EXPECT_NE(temp.find(".tessaro-"), std::string::npos);
    EXPECT_NE(temp.substr(temp.size() - 4), ".bmp");
    EXPECT_NE(temp.substr(temp.size() - 4), ".tif");
    EXPECT_EQ(file->tempPath, dir_ / temp);
}

TEST_P(BmpTempFile, DroppingWithoutSavingLeavesNothingAndKeepsTheTarget) {
    const std::string target = dir_ / "out.bmp";
    WriteText(target, "earlier picture");
    {
        auto file = Create(target, kWidth, kHeight);
        ASSERT_TRUE(file);
        ASSERT_TRUE(WriteBmpPixels(*file, 0, Row(0x10).data(), 3 * kWidth));
    }
    EXPECT_EQ(ReadText(target), "earlier picture");
    EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{"out.bmp"});
}

TEST_P(BmpTempFile, MovingHandsOverTheTemporaryFile) {
    const std::string target = dir_ / "out.bmp";
    auto first = Create(target, 1, 1);
    ASSERT_TRUE(first);
    BmpFile moved(std::move(*first));
    first.reset();  // the moved-from file must not remove what it no longer owns
    BmpFile assigned;
    assigned = std::move(moved);
    ASSERT_TRUE(Save(assigned, false));
    EXPECT_EQ(ReadBytes(target).size(), 58u);
    EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{"out.bmp"});
}

TEST_P(BmpTempFile, SaveOverADirectoryFailsAndLeavesItWhole) {
    const std::string target = dir_ / "out.bmp";
    ASSERT_EQ(mkdir(target.c_str(), 0777), 0);
    WriteText(target + "/inside", "keep");
    for (bool durable : {false, true}) {
        auto file = Create(target, 1, 1);
        if (!file) continue;  // refusing up front is just as good
        EXPECT_FALSE(Save(*file, durable));
        EXPECT_TRUE(file->tempPath.empty());
        EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{"out.bmp"});
        EXPECT_EQ(ListDir(target), std::vector<std::string>{"inside"});
        EXPECT_EQ(ReadText(target + "/inside"), "keep");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bmp, BmpTempFile,
    ::testing::Values(Method{"UnnamedLinkedByDescriptor", {true, true}},
                      Method{"UnnamedLinkedThroughProc", {true, false}},
                      Method{"HiddenNamed", {false, true}}),
    [](const ::testing::TestParamInfo<Method>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tessaro
