#include "scan/path_text.h"

#include <gtest/gtest.h>

namespace tessaro {
namespace {

constexpr PathStyle kPosix = PathStyle::posix;
constexpr PathStyle kWindows = PathStyle::windows;

TEST(EndsWithNoCase, FoldsAsciiLettersOnly) {
    EXPECT_TRUE(EndsWithNoCase("A.TIF", ".tif"));
    EXPECT_TRUE(EndsWithNoCase("b.Tif", ".tif"));
    EXPECT_TRUE(EndsWithNoCase(".tif", ".tif"));
    EXPECT_TRUE(EndsWithNoCase("anything", ""));
    EXPECT_FALSE(EndsWithNoCase("d.tiff", ".tif"));
    EXPECT_FALSE(EndsWithNoCase("e.tif.bak", ".tif"));
    EXPECT_FALSE(EndsWithNoCase("tif", ".tif"));
    // Bytes above 0x7F are never folded: a Latin-1 capital is not its small letter.
    EXPECT_FALSE(EndsWithNoCase("x.\xC9", ".\xE9"));
    EXPECT_TRUE(EndsWithNoCase("\xE5\x9B\xBE.tif", "\xE5\x9B\xBE.TIF"));
}

TEST(PathText, SplitsOnTheLastSlashOnly) {
    EXPECT_EQ(GetParentDir("/data/tifFiles/a/x.tif", kPosix), "/data/tifFiles/a");
    EXPECT_EQ(GetLastPart("/data/tifFiles/a", kPosix), "/a");
    EXPECT_EQ(GetParentDir("x.tif", kPosix), "");
    EXPECT_EQ(GetLastPart("tiles", kPosix), "");
    EXPECT_EQ(GetParentDir("a/b\\c/d.tif", kPosix), "a/b\\c");
    EXPECT_EQ(GetLastPart("a\\b", kPosix), "");
    EXPECT_EQ(GetParentDir("t//a.tif", kPosix), "t/");
    EXPECT_EQ(GetLastPart("t/", kPosix), "/");
    EXPECT_EQ(ParentDirView("t//a.tif", kPosix), "t/");
}

TEST(PathText, JoinAlwaysAddsOneSlash) {
    EXPECT_EQ(JoinPath("t", "a.tif", kPosix), "t/a.tif");
    EXPECT_EQ(JoinPath("t/", "a.tif", kPosix), "t//a.tif");
    EXPECT_EQ(JoinPath("", "a.tif", kPosix), "/a.tif");
}

TEST(PathText, WindowsSplitsOnTheLastBackslashElseTheLastSlash) {
    EXPECT_EQ(GetParentDir("D:\\tifFiles\\a\\x.tif", kWindows), "D:\\tifFiles\\a");
    EXPECT_EQ(GetLastPart("D:\\tifFiles\\a", kWindows), "\\a");
    EXPECT_EQ(GetParentDir("x.tif", kWindows), "");
    EXPECT_EQ(GetLastPart("tiles", kWindows), "");
    // The backslash wins over a later slash; a slash counts only where there is no backslash.
    EXPECT_EQ(GetParentDir("a/b\\c/d.tif", kWindows), "a/b");
    EXPECT_EQ(GetParentDir("a/b/c.tif", kWindows), "a/b");
    EXPECT_EQ(GetLastPart("a/b", kWindows), "/b");
    // A root with a trailing backslash: a doubled backslash after it.
    EXPECT_EQ(GetParentDir("D:\\t\\\\x.tif", kWindows), "D:\\t\\");
    EXPECT_EQ(GetLastPart("D:\\t\\", kWindows), "\\");
}

TEST(PathText, WindowsJoinAlwaysAddsOneBackslash) {
    EXPECT_EQ(JoinPath("D:\\t", "a.tif", kWindows), "D:\\t\\a.tif");
    EXPECT_EQ(JoinPath("D:\\t\\", "a.tif", kWindows), "D:\\t\\\\a.tif");
    EXPECT_EQ(JoinPath("D:/t", "a.tif", kWindows), "D:/t\\a.tif");
    EXPECT_EQ(PathSeparator(kWindows), '\\');
    EXPECT_EQ(PathSeparator(kPosix), '/');
}

TEST(PathText, WindowsKeepsCharactersWhoseCodePageFormHoldsABackslashByte) {
    // U+4E57 is 81 5C in code page 936: in UTF-8 (E4 B9 97) no byte of it is a separator.
    const std::string dir = "D:\\t\\\xE4\xB9\x97";
    EXPECT_EQ(GetParentDir(dir + "\\x.tif", kWindows), dir);
    EXPECT_EQ(GetLastPart(dir, kWindows), "\\\xE4\xB9\x97");
    EXPECT_EQ(DirNameOf(dir, kWindows), "\xE4\xB9\x97");
}

TEST(DirNameOf, LastNonEmptyComponent) {
    EXPECT_EQ(DirNameOf("/data/tifFiles/a", kPosix), "a");
    EXPECT_EQ(DirNameOf("tiles", kPosix), "tiles");
    EXPECT_EQ(DirNameOf("t//", kPosix), "t");
    EXPECT_EQ(DirNameOf("a\\b", kPosix), "a\\b");
    EXPECT_EQ(DirNameOf("x/.", kPosix), "");
    EXPECT_EQ(DirNameOf("..", kPosix), "");
    EXPECT_EQ(DirNameOf("/", kPosix), "");
    EXPECT_EQ(DirNameOf("", kPosix), "");
    EXPECT_EQ(DirNameOf("x/...", kPosix), "...");
}

TEST(DirNameOf, WindowsTakesEitherSeparatorAndDropsDrivesAndTrailingDots) {
    EXPECT_EQ(DirNameOf("D:\\tifFiles\\a", kWindows), "a");
    EXPECT_EQ(DirNameOf("D:\\t\\", kWindows), "t");
    EXPECT_EQ(DirNameOf("tiles", kWindows), "tiles");
    EXPECT_EQ(DirNameOf("a\\b/c", kWindows), "c");
    EXPECT_EQ(DirNameOf("D:tiles", kWindows), "tiles");
    EXPECT_EQ(DirNameOf("\\\\server\\share\\", kWindows), "share");
    EXPECT_EQ(DirNameOf("tiles. .", kWindows), "tiles");
    EXPECT_EQ(DirNameOf("D:\\", kWindows), "");
    EXPECT_EQ(DirNameOf("D:", kWindows), "");
    EXPECT_EQ(DirNameOf("\\\\?\\C:\\", kWindows), "");
    EXPECT_EQ(DirNameOf(".", kWindows), "");
    EXPECT_EQ(DirNameOf("D:\\t\\..", kWindows), "");
    EXPECT_EQ(DirNameOf("...", kWindows), "");
}

TEST(PathText, NativeRulesAreThePlatforms) {
#ifdef _WIN32
    EXPECT_EQ(JoinPath("D:\\t", "a.tif"), "D:\\t\\a.tif");
    EXPECT_EQ(GetParentDir("a/b\\c/d.tif"), "a/b");
    EXPECT_EQ(DirNameOf("D:\\t\\"), "t");
#else
    EXPECT_EQ(JoinPath("t", "a.tif"), "t/a.tif");
    EXPECT_EQ(GetParentDir("a/b\\c/d.tif"), "a/b\\c");
    EXPECT_EQ(DirNameOf("t/"), "t");
#endif
}

}  // namespace
}  // namespace tessaro
