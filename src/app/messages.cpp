#include "app/messages.h"

#include <cstdio>

#include "os/console_io.h"

namespace tessaro {

namespace {

const std::string kCreditLine =
    std::string(" - version ") + TESSARO_VERSION + ": joins TIFF tiles into 24-bit BMP mosaics.\n";

// Where tile i of a group of `count` sits, as the size checks name it.
const char* PositionName(std::size_t count, int32_t tile) {
    static const char* const kTwo[] = {"上面", "下面"};
    static const char* const kFour[] = {"左上", "左下", "右上", "右下"};
    static const char* const kSix[] = {"左上", "左中", "左下", "右上", "右中", "右下"};
    if (count == 2) return kTwo[tile];
    return count == 4 ? kFour[tile] : kSix[tile];
}

std::string WithPath(std::string_view prefix, std::string_view path, std::string_view suffix) {
    return ConsoleText(prefix).append(path).append(ConsoleText(suffix));
}

std::string Format(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Duration(double seconds) {
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

}  // namespace

std::string ProgressLine(int groupNumber, int groupTotal, std::string_view dir) {
    return WithPath(" ++ " + std::to_string(groupNumber) + "/" + std::to_string(groupTotal) +
                        " ++   path: ",
                    dir, "\n");
}

std::string LayoutFailureText(const LayoutFailure& failure, std::size_t tileCount) {
    switch (failure.kind) {
        case LayoutFailure::Kind::count:
            return "拼接失败! 拼接的Tif数为" + std::to_string(tileCount) + "!\n";
        case LayoutFailure::Kind::tooLarge: return "拼接失败! 拼接后的图片过大!\n";
        case LayoutFailure::Kind::sizeMismatch: break;
    }
    return std::string("拼接失败! ") + PositionName(tileCount, failure.a) + "," +
           PositionName(tileCount, failure.b) + "tif图片的" + (failure.width ? "宽度" : "高度") +
           "不一样!\n";
}

std::string OutcomeLine(const GroupOutcome& outcome, const ScannedGroup& group) {
    const std::size_t count = group.names.size();
    switch (outcome.result) {
        case GroupResult::saved: return ConsoleText("拼接成功!\n");
        case GroupResult::count:
            return ConsoleText(LayoutFailureText({LayoutFailure::Kind::count}, count));
        case GroupResult::unreadable:
            return WithPath("拼接失败! 无法读取tif文件: ", group.TilePath(outcome.tile), "\n");
        case GroupResult::sizeMismatch: return ConsoleText(LayoutFailureText(outcome.mismatch, count));
        case GroupResult::tooLarge:
            return ConsoleText(LayoutFailureText({LayoutFailure::Kind::tooLarge}, count));
        case GroupResult::readFailed: return ConsoleText("拼接失败! 读取tif文件时,内存申请失败!\n");
        case GroupResult::saveFailed: return ConsoleText("拼接失败! 保存拼接的BMP文件失败!\n");
        case GroupResult::abandoned: break;
    }
    return {};
}

std::string ErrorLine(std::string_view path, std::string_view reason) {
    std::string line = "tessaro: ";
    line.append(path).append(": ").append(reason).append("\n");
    return line;
}

std::string UsageText() { return "tessaro.exe /?   获取帮助\n" + kCreditLine; }

std::string HelpText() {
    return "tessaro.exe   A   B\n"
           "参数A:目录绝对路径   参数B:是否删除原tif文件\n"
           "示例: tessaro.exe D:\\tifFiles\n"
           "      递归搜索tifFiles下的所有子目录，并一一进行拼接.\n"
           "示例: tessaro.exe D:\\tifFiles 1\n"
           "      若传入第2个参数,且为1,则在拼接成功之后,会删除原tif文件.\n"
           "tessaro" + kCreditLine;
}

std::string ProgressText(const RunProgress& progress, double seconds) {
    uint64_t mosaicBytes = 0;
    uint64_t written = 0;
    for (const GroupMeter& group : progress.inFlight) {
        mosaicBytes += group.mosaicBytes;
        written += group.written;
    }
    const int percent = mosaicBytes > 0 ? static_cast<int>(written * 100 / mosaicBytes) : 0;
    const uint64_t read = TileBytesRead(progress);
    const double rate = seconds > 0 ? static_cast<double>(read) / seconds : 0;
    const uint64_t left = progress.tileBytesTotal > read ? progress.tileBytesTotal - read : 0;
    return "组 " + std::to_string(progress.groupNumber) + "/" + std::to_string(progress.groupTotal) +
           "  " + std::to_string(percent) + "%  " + Format("%.1f MB/s", rate / 1e6) + "  剩余 " +
           (rate > 0 ? Duration(static_cast<double>(left) / rate) : std::string("--:--"));
}

std::string SummaryText(const RunTally& tally, double seconds) {
    return "完成: 成功 " + std::to_string(tally.saved) + " 组, 失败 " + std::to_string(tally.failed) +
           " 组, 删除 " + std::to_string(tally.tilesDeleted) + " 个tif文件, 用时 " +
           Format("%.1f", seconds) + " 秒\n";
}

}  // namespace tessaro
