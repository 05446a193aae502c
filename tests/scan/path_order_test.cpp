#include "scan/path_order.h"

#include <gtest/gtest.h>

#include "tile_list.h"

#include "app/batch_driver.h"

#ifdef _WIN32
#include "os/windows_win.h"
#include "os/wide_text_win.h"
#endif

namespace tessaro {
namespace {

// UTF-8 of the characters used below.
const std::string kYi = "\xE4\xB8\x80";       // U+4E00, 936: D2 BB
const std::string kA = "\xE5\x95\x8A";        // U+554A, 936: B0 A1
const std::string kCheng = "\xE4\xB9\x97";    // U+4E57, 936: 81 5C
const std::string kSnowman = "\xE2\x98\x83";  // U+2603, not in 936
const std::string kUmbrella = "\xE2\x98\x82"; // U+2602, not in 936

// A stand-in for the ANSI code page 936, for the characters above.
std::string Encode936(std::string_view utf8) {
    std::string out(utf8);
    const std::pair<std::string, std::string> table[] = {
        {kYi, "\xD2\xBB"}, {kA, "\xB0\xA1"}, {kCheng, "\x81\x5C"}, {kSnowman, "?"}, {kUmbrella, "?"}};
    for (const auto& [from, to] : table)
        for (std::size_t at; (at = out.find(from)) != std::string::npos;) out.replace(at, from.size(), to);
    return out;
}

std::string Unchanged(std::string_view utf8) { return std::string(utf8); }

TEST(SortPathsEncoded, ByTheEncodedBytesNotTheUtf8Ones) {
    TileList list{"d/" + kYi + ".tif", "d/" + kA + ".tif", "d/z.tif"};
    SortPathsEncoded(list, Encode936);
    EXPECT_EQ(list, (TileList{"d/z.tif", "d/" + kA + ".tif", "d/" + kYi + ".tif"}));
}

TEST(SortPathsEncoded, UnchangedTextSortsAsTheBytes) {
    TileList list{"R/c.tif", "R/b/x.tif", "R/a.tif", "R/B.tif", "R-x/a.tif", "R/10.tif", "R/2.tif"};
    TileList bytes = list;
    SortPathsEncoded(list, Unchanged);
    std::sort(bytes.begin(), bytes.end(), [](const std::string& a, const std::string& b) {
        return EncodedPathLess(EncodePath(a, Unchanged), EncodePath(b, Unchanged));
    });
    EXPECT_EQ(list, (TileList{"R/10.tif", "R/2.tif", "R/B.tif", "R/a.tif", "R/c.tif", "R-x/a.tif",
                              "R/b/x.tif"}));
    EXPECT_EQ(list, bytes);
}

TEST(SortPathsEncoded, DirectoriesThatEncodeAlikeStayInOnePieceEach) {
    TileList list{"a/" + kSnowman + "/1.tif", "a/" + kUmbrella + "/2.tif", "a/" + kSnowman + "/2.tif",
                  "a/" + kUmbrella + "/1.tif"};
    SortPathsEncoded(list, Encode936);
    EXPECT_EQ(list, (TileList{"a/" + kUmbrella + "/1.tif", "a/" + kUmbrella + "/2.tif",
                              "a/" + kSnowman + "/1.tif", "a/" + kSnowman + "/2.tif"}));
    EXPECT_EQ(CountDirGroups(list), 2);
}

TEST(EncodePath, TheDirectorysShareIsCountedInTheEncodedBytes) {
    // The encoded name holds a 0x5C byte; the directory is still found in the UTF-8 text.
    const EncodedPath key = EncodePath("d/" + kCheng + "/x.tif", Encode936);
    EXPECT_EQ(key.dirSize, 5u);
    EXPECT_EQ(key.encoded, "d/\x81\x5C/x.tif");
    EXPECT_EQ(key.encodedDirSize, 4u);
    TileList list{"d/" + kCheng + "/x.tif", "d/" + kCheng + ".tif", "d/y.tif"};
    SortPathsEncoded(list, Encode936);
    EXPECT_EQ(list, (TileList{"d/y.tif", "d/" + kCheng + ".tif", "d/" + kCheng + "/x.tif"}));
}

#ifdef _WIN32

TEST(AnsiFromUtf8, CodePage936BytesWithoutLookAlikes) {
    if (GetACP() != 936) GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 936";
    EXPECT_EQ(AnsiFromUtf8("\xE6\x8B\xBC\xE6\x8E\xA5\xE6\x88\x90\xE5\x8A\x9F!\n"),
              "\xC6\xB4\xBD\xD3\xB3\xC9\xB9\xA6!\n");  // 拼接成功
    EXPECT_EQ(AnsiFromUtf8(kCheng), "\x81\x5C");
    EXPECT_EQ(AnsiFromUtf8(kSnowman), "?");
    EXPECT_EQ(AnsiFromUtf8("\xC2\xA5"), "?");  // U+00A5 is not in 936, and no backslash either
}

TEST(ComparePaths, OrdersByTheAnsiCodePage) {
    if (GetACP() != 936) GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 936";
    EXPECT_TRUE(ComparePaths("d\\" + kA + ".tif", "d\\" + kYi + ".tif"));
    EXPECT_FALSE(ComparePaths("d\\" + kYi + ".tif", "d\\" + kA + ".tif"));
    TileList list{"D:\\t\\" + kYi + "\\1.tif", "D:\\t\\" + kA + "\\1.tif", "D:\\t\\z.tif"};
    SortPaths(list);
    EXPECT_EQ(list, (TileList{"D:\\t\\z.tif", "D:\\t\\" + kA + "\\1.tif", "D:\\t\\" + kYi + "\\1.tif"}));
}

#else

TEST(ComparePaths, SortPathsIsTheByteOrder) {
    TileList list{"d/" + kYi + ".tif", "d/" + kA + ".tif", "d/z.tif", "d\\x.tif"};
    SortPaths(list);
    // A backslash is part of a name: "d\\x.tif" has no directory, which sorts first.
    EXPECT_EQ(list, (TileList{"d\\x.tif", "d/z.tif", "d/" + kYi + ".tif", "d/" + kA + ".tif"}));
}

#endif

}  // namespace
}  // namespace tessaro
