#include "app/console.h"

#include <gtest/gtest.h>

#include "os/console_io.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "os/wide_text_win.h"
#include "os/windows_win.h"
#include "temp_dir.h"
#else
#include "os/console_posix.h"
#endif

namespace tessaro {
namespace {

TEST(Console, StatusTextIsCutToWholeCharactersThatFitTheColumns) {
    EXPECT_EQ(FitColumns("组 1/2  50%", 80), "组 1/2  50%");
    EXPECT_EQ(FitColumns("组 1/2  50%", 6), "组 1/2");
    EXPECT_EQ(FitColumns("组 1/2", 1), "");
    EXPECT_EQ(FitColumns("\xC3\xA9t\xE0\xA4\x95", 3), "\xC3\xA9t\xE0\xA4\x95");  // narrow: é, t, क
    EXPECT_EQ(FitColumns("ab\xE7\xBB", 9), "ab");  // a character cut short is dropped
    EXPECT_EQ(ColumnsOf("组 1/2  50%"), 11);
    EXPECT_EQ(ColumnsOf(""), 0);
}

TEST(Console, StatusIsRedrawnByEscapeOrByBlanks) {
    EXPECT_EQ(StatusDrawing("组 1/2", 6, 9, true), "\r组 1/2\x1b[K");
    EXPECT_EQ(StatusErasing(9, true), "\r\x1b[K");
    // Without the escape, blanks cover what the longer status before it left.
    EXPECT_EQ(StatusDrawing("组 1/2", 6, 9, false), "\r组 1/2   ");
    EXPECT_EQ(StatusDrawing("组 1/2", 6, 4, false), "\r组 1/2");
    EXPECT_EQ(StatusErasing(3, false), "\r   \r");
}

TEST(Console, LineEndsForFiles) {
    EXPECT_EQ(WithCrLf("a\nb\n\n"), "a\r\nb\r\n\r\n");
    EXPECT_EQ(WithCrLf("no end"), "no end");
}

#ifdef _WIN32

// Standard output sent to a file for the rest of the scope, as `tessaro > out.txt` sends it.
class StdoutToFile {
public:
    explicit StdoutToFile(const std::string& path) {
        std::fflush(stdout);
        saved_ = _dup(_fileno(stdout));
        const int file = _wopen(WideFromUtf8(path).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT,
                                _S_IREAD | _S_IWRITE);
        _dup2(file, _fileno(stdout));
        _close(file);
    }
    ~StdoutToFile() {
        std::fflush(stdout);
        _dup2(saved_, _fileno(stdout));
        _close(saved_);
    }
    StdoutToFile(const StdoutToFile&) = delete;
    StdoutToFile& operator=(const StdoutToFile&) = delete;

private:
    int saved_ = -1;
};

TEST(Console, RedirectedOutputIsTheAnsiCodePageWithCrLf) {
    if (GetACP() != 936) GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 936";
    testing::TempDir tmp;
    const std::string file = tmp / "out.txt";
    {
        const StdoutToFile redirect(file);
        InitConsole();
        PrintText("拼接成功!\n");
        PrintWithPath(" ++ 1/1 ++   path: ", "D:\\图", "\n");
        FlushOutput();
    }
    std::ifstream in(testing::FsPath(file), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(bytes, "\xC6\xB4\xBD\xD3\xB3\xC9\xB9\xA6!\r\n ++ 1/1 ++   path: D:\\\xCD\xBC\r\n");
}

#else

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

#endif

}  // namespace
}  // namespace tessaro
