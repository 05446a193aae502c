#include "app/command_line.h"

#include <csignal>
#include <string>

#include "app/batch_driver.h"
#include "app/console.h"
#include "decoder/decoder_child.h"
#include "os/interrupt.h"

namespace tessaro {

namespace {

const std::string kCreditLine =
    std::string(" - version ") + TESSARO_VERSION + ": joins TIFF tiles into 24-bit BMP mosaics.\n";

void PrintUsage() {
    PrintText("tessaro.exe /?   获取帮助\n");
    PrintText(kCreditLine);
}

void PrintHelp() {
    PrintText("tessaro.exe   A   B\n");
    PrintText("参数A:目录绝对路径   参数B:是否删除原tif文件\n");
    PrintText("示例: tessaro.exe D:\\tifFiles\n");
    PrintText("      递归搜索tifFiles下的所有子目录，并一一进行拼接.\n");
    PrintText("示例: tessaro.exe D:\\tifFiles 1\n");
    PrintText("      若传入第2个参数,且为1,则在拼接成功之后,会删除原tif文件.\n");
    PrintText("tessaro" + kCreditLine);
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args) {
    InitConsole();
#ifdef SIGXFSZ
    // Under a file-size limit, a mosaic that does not fit must fail its save like a full disk
    // does, instead of killing the run.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    if (args.size() < 2) {
        PrintUsage();
        return 0;
    }
    if (args[1] == "/?") {
        PrintHelp();
        return 0;
    }
    const bool deleteSources = args.size() >= 3 && args[2] == "1";
    // Before anything else is under way, so that the helper that forks the decoders is small.
    DecoderChild::AtProcessStart();
    CatchInterrupts();
    const BatchOutcome outcome = SpliceTree(args[1], deleteSources, ErrorIsTerminal());
    ResignalIfInterrupted();
    switch (outcome) {
        case BatchOutcome::allSaved: return 0;
        case BatchOutcome::someFailed: return 1;
        case BatchOutcome::rootUnreadable: return 2;
    }
    return 2;
}

}  // namespace tessaro
