#include "scan/path_text.h"

#include <gtest/gtest.h>

namespace tessaro {
namespace {

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
    EXPECT_EQ(GetParentDir("/data/tifFiles/a/x.tif"), "/data/tifFiles/a");
    EXPECT_EQ(GetLastPart("/data/tifFiles/a"), "/a");
    EXPECT_EQ(GetParentDir("x.tif"), "");
    EXPECT_EQ(GetLastPart("tiles"), "");
    EXPECT_EQ(GetParentDir("a/b\\c/d.tif"), "a/b\\c");
    EXPECT_EQ(GetLastPart("a\\b"), "");
    EXPECT_EQ(GetParentDir("t//a.tif"), "t/");
    EXPECT_EQ(GetLastPart("t/"), "/");
}

TEST(PathText, JoinAlwaysAddsOneSlash) {
    EXPECT_EQ(JoinPath("t", "a.tif"), "t/a.tif");
    EXPECT_EQ(JoinPath("t/", "a.tif"), "t//a.tif");
    EXPECT_EQ(JoinPath("", "a.tif"), "/a.tif");
}

}  // namespace
}  // namespace tessaro
