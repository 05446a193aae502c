#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>

#include "os/console_io.h"
#include "os/wide_text_win.h"
#include "os/windows_win.h"
#include "os/wide_text_win.h"

namespace tessaro {

namespace {

// The console behind a C runtime stream, or nullptr when the stream goes to a file or pipe (or
// nowhere: a process started without standard handles has no descriptor for it).
HANDLE ConsoleOf(std::FILE* stream) {
    const int fd = _fileno(stream);
    if (fd < 0) return nullptr;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// UTF-16 to a console, whatever its code page; the ANSI code page's bytes with "\r\n" line ends
// to anything else.
void WriteTo(std::FILE* stream, std::string_view utf8) {
    if (utf8.empty()) return;
    if (const HANDLE console = ConsoleOf(stream)) {
        const std::wstring wide = WideFromUtf8(utf8);
        std::size_t done = 0;
        while (done < wide.size()) {
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
            DWORD written = 0;
            if (!WriteConsoleW(console, wide.data() + done, chunk, &written, nullptr) || written == 0) return;
            done += written;
        }
        return;
    }
    // The bytes written are the bytes meant: the line ends are "\r\n" already, and must not
    // become "\r\r\n" in a stream someone opened in text mode.
    const int fd = _fileno(stream);
    if (fd < 0) return;
    _setmode(fd, _O_BINARY);
    const std::string bytes = WithCrLf(AnsiFromUtf8(utf8));
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

// Standard error's console mode as the run found it, restored when the run ends.
class ErrorConsoleMode {
public:
    ~ErrorConsoleMode() {
        if (changed_) SetConsoleMode(console_, before_);
    }
    // Turns on escape sequences; true when the console has them.
    bool EnableEscapes() {
        console_ = ConsoleOf(stderr);
        if (console_ == nullptr || !GetConsoleMode(console_, &before_)) return false;
        if ((before_ & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
        changed_ = SetConsoleMode(console_, before_ | ENABLE_PROCESSED_OUTPUT |
                                                ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
        return changed_;
    }

private:
    HANDLE console_ = nullptr;
    DWORD before_ = 0;
    bool changed_ = false;
};

ErrorConsoleMode g_errorMode;
bool g_errorEscapes = false;

}  // namespace

void InitConsole() {
    g_errorEscapes = g_errorMode.EnableEscapes();
}

bool ErrorIsTerminal() { return ConsoleOf(stderr) != nullptr; }

bool OutputIsTerminal() { return ConsoleOf(stdout) != nullptr; }

bool UserReadsChinese() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE; }

bool ConsoleTakesUtf8() { return true; }

std::string ConsoleText(std::string_view utf8) { return std::string(utf8); }

void WriteOutput(std::string_view text) { WriteTo(stdout, text); }

void WriteErrorOutput(std::string_view text) { WriteTo(stderr, text); }

int ErrorColumns() {
    const HANDLE console = ConsoleOf(stderr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (console == nullptr || !GetConsoleScreenBufferInfo(console, &info)) return 0;
    return std::max<int>(info.dwSize.X, 0);
}

bool ErrorErasesByEscape() { return g_errorEscapes; }

}  // namespace tessaro
