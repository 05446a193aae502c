#include "app/command_line.h"

#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>

#include "app/batch_driver.h"
#include "app/console.h"
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

int RunCommandLine(int argc, char** argv) {
    InitConsole();
    // Under a file-size limit, a mosaic that does not fit must fail its save like a full disk
    // does, instead of killing the run.
    std::signal(SIGXFSZ, SIG_IGN);
    if (argc < 2) {
        PrintUsage();
        return 0;
    }
    if (std::strcmp(argv[1], "/?") == 0) {
        PrintHelp();
        return 0;
    }
    const bool deleteSources = argc >= 3 && std::strcmp(argv[2], "1") == 0;
    CatchInterrupts();
    const BatchOutcome outcome = SpliceTree(argv[1], deleteSources, isatty(STDERR_FILENO) == 1);
    ResignalIfInterrupted();
    switch (outcome) {
        case BatchOutcome::allSaved: return 0;
        case BatchOutcome::someFailed: return 1;
        case BatchOutcome::rootUnreadable: return 2;
    }
    return 2;
}

}  // namespace tessaro
