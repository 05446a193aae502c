#include "tree_check.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "run_binary.h"
#include "temp_dir.h"

namespace tessaro::testing {

std::string ProgressLine(const std::string& dir, int index, int total) {
    return " ++ " + std::to_string(index) + "/" + std::to_string(total) + " ++   path: " + dir + "\n";
}

std::string UnreadableLine(const std::string& tilePath) {
    return "拼接失败! 无法读取tif文件: " + tilePath + "\n";
}

std::string CountLine(long long tiles) {
    return "拼接失败! 拼接的Tif数为" + std::to_string(tiles) + "!\n";
}

std::vector<std::string> ListNames(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(FsPath(dir), ec), end; !ec && it != end;
         it.increment(ec))
        names.push_back(Utf8Path(it->path().filename()));
    if (ec) ADD_FAILURE() << "cannot list " << dir << ": " << ec.message();
    std::sort(names.begin(), names.end());
    return names;
}

bool IsTemporaryName(const std::string& name) {
    return name.size() > 1 && name[0] == '.' && name.find(".tessaro-") != std::string::npos;
}

::testing::AssertionResult SameFileBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                         << ", first difference at byte " << at;
}

DecodedTile WriteTile(const std::string& path, const RgbImage& image, const TiffOptions& options) {
    WriteTiff(path, image, options);
    return {image.width, image.height, ExpectedBgrBottomUp(image)};
}

void WriteHeaderOnlyTiff(const std::string& path, uint32_t width, uint32_t height) {
    TIFF* tif = OpenTiff(path, "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    TIFFWriteCheck(tif, 0, "header only");
    TIFFWriteDirectory(tif);
    TIFFClose(tif);
}

namespace {

void Put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xff);
    s += static_cast<char>((v >> 8) & 0xff);
}

void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xffff);
    Put16(s, v >> 16);
}

uint32_t ValueBytes(const HandTiffEntry& e) {
    return static_cast<uint32_t>(e.values.size()) * (e.type == 3 ? 2 : 4);
}

}  // namespace

std::string HandMadeTiff(const std::vector<HandTiffEntry>& entries, const std::string& data) {
    std::string head("II*\0", 4);
    Put32(head, 8);
    const uint32_t ifdSize = 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    std::string arrays;
    std::string ifd;
    Put16(ifd, static_cast<uint32_t>(entries.size()));
    for (const HandTiffEntry& e : entries) {
        Put16(ifd, e.tag);
        Put16(ifd, e.type);
        Put32(ifd, static_cast<uint32_t>(e.values.size()));
        std::string packed;
        for (uint32_t v : e.values) e.type == 3 ? Put16(packed, v) : Put32(packed, v);
        if (ValueBytes(e) <= 4) {
            packed.resize(4, '\0');
            ifd += packed;
        } else {
            Put32(ifd, 8 + ifdSize + static_cast<uint32_t>(arrays.size()));
            arrays += packed;
        }
    }
    Put32(ifd, 0);
    return head + ifd + arrays + data;
}

uint32_t HandMadeDataOffset(const std::vector<HandTiffEntry>& entries) {
    uint32_t offset = 8 + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    for (const HandTiffEntry& e : entries)
        if (ValueBytes(e) > 4) offset += ValueBytes(e);
    return offset;
}

std::vector<HandTiffEntry> GreyStripEntries(uint32_t width, uint32_t height, uint32_t rowsPerStrip,
                                            uint32_t stripBytes) {
    const uint32_t strips = (height + rowsPerStrip - 1) / rowsPerStrip;
    std::vector<HandTiffEntry> entries = {
        {256, 4, {width}},
        {257, 4, {height}},
        {258, 3, {8}},
        {259, 3, {1}},
        {262, 3, {1}},
        {273, 4, std::vector<uint32_t>(strips, 0)},
        {277, 3, {1}},
        {278, 4, {rowsPerStrip}},
        {279, 4, std::vector<uint32_t>(strips, stripBytes)},
    };
    const uint32_t base = HandMadeDataOffset(entries);
    for (uint32_t s = 0; s < strips; ++s) entries[5].values[s] = base + s * stripBytes;
    return entries;
}

bool RunsSlowed() {
#ifdef TESSARO_SANITIZED
    return true;
#else
    return RunsWrapped();
#endif
}

}  // namespace tessaro::testing
