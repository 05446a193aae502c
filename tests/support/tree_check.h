// What end-to-end tests of hostile inputs, save faults, kills and concurrent runs share: the
// lines the binary prints, listings of what a run left behind, hand-made TIFF files, file flags
// and the tools for trees too deep for ordinary paths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mosaic_expect.h"
#include "tiff_fixture.h"

namespace tessaro::testing {

inline const std::string kSuccessLine = "拼接成功!\n";
inline const std::string kSaveFailedLine = "拼接失败! 保存拼接的BMP文件失败!\n";
inline const std::string kReadFailedLine = "拼接失败! 读取tif文件时,内存申请失败!\n";
inline const std::string kTooLargeLine = "拼接失败! 拼接后的图片过大!\n";

// What a run with no arguments prints, and what "/?" prints.
inline const std::string kCredit =
    " - version " TESSARO_VERSION ": joins TIFF tiles into 24-bit BMP mosaics.\n";
inline const std::string kUsage = "tessaro.exe /?   获取帮助\n" + kCredit;
inline const std::string kHelp =
    "tessaro.exe   A   B\n"
    "参数A:目录绝对路径   参数B:是否删除原tif文件\n"
    "示例: tessaro.exe D:\\tifFiles\n"
    "      递归搜索tifFiles下的所有子目录，并一一进行拼接.\n"
    "示例: tessaro.exe D:\\tifFiles 1\n"
    "      若传入第2个参数,且为1,则在拼接成功之后,会删除原tif文件.\n"
    "tessaro" + kCredit;

std::string ProgressLine(const std::string& dir, int index = 1, int total = 1);
std::string UnreadableLine(const std::string& tilePath);
std::string CountLine(long long tiles);


// A name the bitmap writer gives its temporary files: hidden, never ending in ".tif" or ".bmp".
bool IsTemporaryName(const std::string& name);

// Compares whole files without printing megabytes when they differ.
::testing::AssertionResult SameFileBytes(const std::string& actual, const std::string& expected);

// Writes a lossless tile (8-bit RGB unless options say otherwise; no grey, no lossy codec) and
// returns what it must decode to.
DecodedTile WriteTile(const std::string& path, const RgbImage& image, const TiffOptions& options = {});

// A TIFF written by libtiff whose directory declares width x height 8-bit RGB pixels in one strip
// but which holds no pixel data at all.
void WriteHeaderOnlyTiff(const std::string& path, uint32_t width, uint32_t height);

// A hand-made little-endian classic TIFF: eight header bytes, one directory of SHORT (3) and LONG
// (4) entries, the arrays that do not fit in an entry, then `data`.
struct HandTiffEntry {
    uint16_t tag;
    uint16_t type;
    std::vector<uint32_t> values;
};
std::string HandMadeTiff(const std::vector<HandTiffEntry>& entries, const std::string& data);
// Where `data` starts in HandMadeTiff(entries, data).
uint32_t HandMadeDataOffset(const std::vector<HandTiffEntry>& entries);
// An 8-bit grey picture in strips of rowsPerStrip rows, each declared stripBytes long, the strips
// following each other straight after the directory.
std::vector<HandTiffEntry> GreyStripEntries(uint32_t width, uint32_t height, uint32_t rowsPerStrip,
                                            uint32_t stripBytes);

// Linux only (tree_check_posix.cpp), down to kNobody.

// Sets or clears an inode flag (FS_IMMUTABLE_FL, FS_APPEND_FL) on a file or directory. False
// when the file system or the process's privileges do not allow it.
bool SetInodeFlag(const std::string& path, int flag, bool on);

// Removes a tree of any depth (paths far beyond PATH_MAX included) with rm -rf; true on success.
bool RemoveTree(const std::string& path);

// True when this process may run the binary as another user (it is root).
bool CanSwitchUser();

inline constexpr int kNobody = 65534;

// From here on, for Linux in tree_check_posix.cpp, for Windows in tree_check_win.cpp.

// The names in a directory, sorted as bytes (UTF-8 on Windows), without "." and "..".
std::vector<std::string> ListNames(const std::string& dir);

// What the binary writes to a pipe for utf8, its texts and paths: on Linux (in a UTF-8 locale)
// the text as it is; on Windows code page 936 with every "\n" as "\r\n".
std::string Printed(const std::string& utf8);

// True when the binary runs many times slower than usual: on Linux built with sanitizers or run
// under TESSARO_RUN_WRAPPER (and then also without RLIMIT_AS); on Windows under Wine, where every
// process takes long to start. Heavy tests then keep their work small.
bool RunsSlowed();

}  // namespace tessaro::testing
