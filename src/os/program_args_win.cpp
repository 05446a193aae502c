#include <memory>

#include "os/local_free_win.h"
#include "os/program_args.h"
#include "os/wide_text_win.h"
#include "os/windows_win.h"

#include <shellapi.h>

namespace tessaro {

namespace {

// An argument as the C runtime read it, in the ANSI code page, as UTF-8.
std::string FromAnsiCodePage(const char* text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1) return {};
    std::wstring wide(static_cast<std::size_t>(length - 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    return Utf8FromWide(wide);
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreeDeleter> wide(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::string> args;
    if (!wide) {  // out of memory: the C runtime's reading will do, for what the code page holds
        for (int i = 0; i < argc; ++i) args.push_back(FromAnsiCodePage(argv[i]));
        return args;
    }
    for (int i = 0; i < count; ++i) args.push_back(Utf8FromWide(wide.get()[i]));
    return args;
}

}  // namespace tessaro
