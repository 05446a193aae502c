#include "app/messages.h"
#include "app/utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "os/console_io.h"
#include "scan/path_text.h"

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

std::string WithPath(std::string_view prefix, std::string_view path, std::string_view suffix,
                     NameBytes how) {
    return ConsoleText(prefix).append(ShownName(path, how)).append(ConsoleText(suffix));
}

void AppendEscaped(std::string& shown, unsigned char byte) {
    static constexpr char kNamed[] = "abtnvfr";  // \a (7) to \r (13)
    shown += '\\';
    if (byte >= 7 && byte <= 13) {
        shown += kNamed[byte - 7];
        return;
    }
    shown += static_cast<char>('0' + (byte >> 6));
    shown += static_cast<char>('0' + ((byte >> 3) & 7));
    shown += static_cast<char>('0' + (byte & 7));
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

std::string ShownName(std::string_view name, NameBytes how) {
    if (how == NameBytes::exact) return std::string(name);
    const bool utf8 = ConsoleTakesUtf8();
    std::string shown;
    shown.reserve(name.size());
    while (!name.empty()) {
        const auto lead = static_cast<unsigned char>(name.front());
        uint32_t code = 0;
        const std::size_t length = utf8 ? Utf8Character(name, &code) : 1;
        if (lead < 0x20 || lead == 0x7F || (lead == '\\' && utf8 && kNativePathStyle == PathStyle::posix)) {
            AppendEscaped(shown, lead);
        } else if (utf8 && (length == 0 ? lead >= 0x80 && lead < 0xA0 : code >= 0x80 && code < 0xA0)) {
            // A C1 control, as a character or as a byte that starts none.
            for (std::size_t i = 0; i < std::max<std::size_t>(length, 1); ++i)
                AppendEscaped(shown, static_cast<unsigned char>(name[i]));
        } else {
            shown.append(name.substr(0, std::max<std::size_t>(length, 1)));
        }
        name.remove_prefix(std::max<std::size_t>(length, 1));
    }
    return shown;
}

std::string ProgressLine(int groupNumber, int groupTotal, std::string_view dir, NameBytes how) {
    return WithPath(" ++ " + std::to_string(groupNumber) + "/" + std::to_string(groupTotal) +
                        " ++   path: ",
                    dir, "\n", how);
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

std::string OutcomeLine(const GroupOutcome& outcome, const ScannedGroup& group, NameBytes how) {
    const std::size_t count = group.names.size();
    switch (outcome.result) {
        case GroupResult::saved: return ConsoleText("拼接成功!\n");
        case GroupResult::count:
            return ConsoleText(LayoutFailureText({LayoutFailure::Kind::count}, count));
        case GroupResult::unreadable:
            return WithPath("拼接失败! 无法读取tif文件: ", group.TilePath(outcome.tile), "\n", how);
        case GroupResult::sizeMismatch: return ConsoleText(LayoutFailureText(outcome.mismatch, count));
        case GroupResult::tooLarge:
            return ConsoleText(LayoutFailureText({LayoutFailure::Kind::tooLarge}, count));
        case GroupResult::readFailed: return ConsoleText("拼接失败! 读取tif文件时,内存申请失败!\n");
        case GroupResult::saveFailed: return ConsoleText("拼接失败! 保存拼接的BMP文件失败!\n");
        case GroupResult::checked:  // a dry run's line is CheckedLine
        case GroupResult::abandoned: break;
    }
    return {};
}

std::string CheckedLine(std::string_view mosaicPath, std::size_t tilesToDelete, NameBytes how) {
    std::string tail = "\n";
    if (tilesToDelete > 0) tail = ", 并删除" + std::to_string(tilesToDelete) + "个tif文件\n";
    return WithPath("试运行: 可以拼接, 将保存为 ", mosaicPath, tail, how);
}

std::string ErrorLine(std::string_view path, std::string_view reason, NameBytes how) {
    std::string line = "tessaro: ";
    line.append(ShownName(path, how)).append(": ").append(reason).append("\n");
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

std::string OptionsHelpText(bool chinese) {
    if (chinese)
        return "用法: tessaro [选项]... 目录 [1]\n"
               "  或:  tessaro [选项]... --from=清单 [1]\n"
               "把目录下每个含 2、4 或 6 个 tif 图块的子目录拼接成一张 24 位 BMP 图,\n"
               "保存在该子目录中并以其命名; 第二个参数为 1 时, 拼接图安全保存后删除原 tif 文件.\n"
               "\n"
               "  -j, --jobs=N   同时最多拼接 N 组 (默认: 每个可用处理器一组,\n"
               "                 不超过所在控制组的处理器配额)\n"
               "      --list     只按顺序列出各组的目录 (清单), 不拼接\n"
               "  -0, --null     清单的各项以 NUL 结束, 而不是换行\n"
               "      --from=清单  只拼接清单中的目录, 每个目录单独一组 (不含其下的目录);\n"
               "                 清单为 - 时读标准输入; 此时唯一的参数是 1\n"
               "  -n, --dry-run  测量并检查每一组, 显示将要做的事, 不写也不删任何文件\n"
               "      --report=文件  每组结束时向文件写一行 JSON (dir, outcome, tiles, mosaic,\n"
               "                 deleted); 不是 UTF-8 的字节写作 \\udcXX (见手册)\n"
               "      --help     显示本帮助并退出\n"
               "      --version  显示版本及所用的 libtiff 并退出\n"
               "      --         选项到此为止 (用于以 '-' 开头的目录)\n"
               "\n"
               "退出状态: 0 全部成功 (或没有 tif 文件), 1 有组失败, 2 目录无法遍历或参数有误.\n"
               "tessaro /? 显示旧版的帮助.\n";
    return "Usage: tessaro [OPTION]... DIR [1]\n"
           "  or:  tessaro [OPTION]... --from=LIST [1]\n"
           "Joins the 2, 4 or 6 TIFF tiles of every directory below DIR into one 24-bit BMP\n"
           "mosaic, saved in that directory and named after it; with 1, deletes the tiles once\n"
           "the mosaic is safely saved.\n"
           "\n"
           "  -j, --jobs=N   join at most N groups at a time (default: one per usable\n"
           "                 processor, within the CPU quota of the run's control group)\n"
           "      --list     print the groups' directories in order (a manifest), join nothing\n"
           "  -0, --null     end each manifest entry with a NUL instead of a line break\n"
           "      --from=LIST  join exactly the directories LIST names, each on its own (none\n"
           "                 below it); - reads standard input; the only operand is then 1\n"
           "  -n, --dry-run  measure and check every group, print what would be done,\n"
           "                 write and delete nothing\n"
           "      --report=FILE  write a JSON line per group to FILE as it ends (dir, outcome,\n"
           "                 tiles, mosaic, deleted); bytes that are not UTF-8 as \\udcXX\n"
           "      --help     print this help and exit\n"
           "      --version  print the version and the libtiff in use, and exit\n"
           "      --         end the options (for a DIR that starts with '-')\n"
           "\n"
           "Exit status: 0 every group saved (or no tile found), 1 a group failed,\n"
           "2 DIR cannot be walked or the command line is wrong.\n"
           "tessaro /? prints the help of earlier versions (in Chinese).\n";
}

std::string VersionText(const std::string& libtiff) {
    return std::string("tessaro ") + TESSARO_VERSION + "\n" + libtiff + "\n";
}

std::string WrongArgumentsText(const std::string& what) {
    return "tessaro: " + what + "\nTry 'tessaro --help' for more information.\n";
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
