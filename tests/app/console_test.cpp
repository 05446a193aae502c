#include "app/console.h"

#include <gtest/gtest.h>

namespace tessaro {
namespace {

TEST(Console, GbkFamilyCodesetsAreRecognisedLoosely) {
    EXPECT_EQ(EncodingForCodeset("GBK"), ConsoleEncoding::gbk);
    EXPECT_EQ(EncodingForCodeset("gb2312"), ConsoleEncoding::gbk);
    EXPECT_EQ(EncodingForCodeset("cp-936"), ConsoleEncoding::gbk);
    EXPECT_EQ(EncodingForCodeset("GB_18030"), ConsoleEncoding::gb18030);
    EXPECT_EQ(EncodingForCodeset("UTF-8"), ConsoleEncoding::utf8);
    EXPECT_EQ(EncodingForCodeset("ANSI_X3.4-1968"), ConsoleEncoding::utf8);
    EXPECT_EQ(EncodingForCodeset("BIG5"), ConsoleEncoding::utf8);
}

TEST(Console, ConvertsProgramTextToGbk) {
    // 拼接成功 in GBK: C6 B4 BD D3 B3 C9 B9 A6; the full-width comma is A3 AC.
    EXPECT_EQ(ToConsoleText("拼接成功!\n", ConsoleEncoding::gbk), "\xC6\xB4\xBD\xD3\xB3\xC9\xB9\xA6!\n");
    EXPECT_EQ(ToConsoleText("，", ConsoleEncoding::gb18030), "\xA3\xAC");
    EXPECT_EQ(ToConsoleText("拼接成功!\n", ConsoleEncoding::utf8), "拼接成功!\n");
}

TEST(Console, StatusTextIsCutToWholeCharactersThatFitTheColumns) {
    EXPECT_EQ(FitColumns("组 1/2  50%", 80), "组 1/2  50%");
    EXPECT_EQ(FitColumns("组 1/2  50%", 6), "组 1/2");
    EXPECT_EQ(FitColumns("组 1/2", 1), "");
    EXPECT_EQ(FitColumns("\xC3\xA9t\xE0\xA4\x95", 3), "\xC3\xA9t\xE0\xA4\x95");  // narrow: é, t, क
    EXPECT_EQ(FitColumns("ab\xE7\xBB", 9), "ab");  // a character cut short is dropped
}

}  // namespace
}  // namespace tessaro
