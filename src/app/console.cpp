#include "app/console.h"

#include <iconv.h>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <clocale>
#include <cstdio>
#include <mutex>
#include <utility>

namespace tessaro {

namespace {

ConsoleEncoding g_encoding = ConsoleEncoding::utf8;
thread_local std::string* t_capture = nullptr;
// The terminal is shared by the threads of a run: the status line and what is printed below it.
std::mutex g_terminal;
bool g_statusShown = false;

void WriteError(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stderr); }

void ClearStatusLocked() {
    if (!g_statusShown) return;
    WriteError("\r\x1b[K");
    g_statusShown = false;
}

std::string NormalisedCodeset(std::string_view codeset) {
    std::string name;
    for (char c : codeset) {
        if (c == '-' || c == '_') continue;
        name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return name;
}

class Iconv {
public:
    Iconv(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) iconv_close(handle_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return handle_; }

private:
    iconv_t handle_;
};

}  // namespace

ConsoleEncoding EncodingForCodeset(std::string_view codeset) {
    std::string name = NormalisedCodeset(codeset);
    if (name == "GBK" || name == "GB2312" || name == "CP936") return ConsoleEncoding::gbk;
    if (name == "GB18030") return ConsoleEncoding::gb18030;
    return ConsoleEncoding::utf8;
}

std::string ToConsoleText(std::string_view utf8, ConsoleEncoding encoding) {
    if (encoding == ConsoleEncoding::utf8 || utf8.empty()) return std::string(utf8);
    Iconv converter(encoding == ConsoleEncoding::gbk ? "GBK" : "GB18030", "UTF-8");
    if (!converter.ok()) return std::string(utf8);
    std::string in(utf8);
    std::string out(in.size() * 2 + 4, '\0');  // GBK never needs more bytes than UTF-8 here
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    if (iconv(converter.get(), &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
        return std::string(utf8);
    out.resize(out.size() - outLeft);
    return out;
}

void InitConsole() {
    std::setlocale(LC_CTYPE, "");
    g_encoding = EncodingForCodeset(nl_langinfo(CODESET));
}

OutputCapture::OutputCapture(std::string* into) : previous_(std::exchange(t_capture, into)) {}

OutputCapture::~OutputCapture() { t_capture = previous_; }

void PrintRaw(std::string_view bytes) {
    if (t_capture != nullptr) {
        t_capture->append(bytes);
        return;
    }
    const std::lock_guard<std::mutex> lock(g_terminal);
    ClearStatusLocked();
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void FlushOutput() { std::fflush(stdout); }

void PrintText(std::string_view utf8) { PrintRaw(ToConsoleText(utf8, g_encoding)); }

void PrintWithPath(std::string_view prefix, std::string_view path, std::string_view suffix) {
    PrintText(prefix);
    PrintRaw(path);
    PrintText(suffix);
}

void PrintError(std::string_view path, std::string_view reason) {
    const std::lock_guard<std::mutex> lock(g_terminal);
    ClearStatusLocked();
    std::string line = "tessaro: ";
    line.append(path).append(": ").append(reason).append("\n");
    WriteError(line);
}

void PrintErrorText(std::string_view utf8) {
    const std::lock_guard<std::mutex> lock(g_terminal);
    ClearStatusLocked();
    WriteError(ToConsoleText(utf8, g_encoding));
}

std::string_view FitColumns(std::string_view utf8, int columns) {
    int used = 0;
    std::size_t end = 0;
    while (end < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[end]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (end + length > utf8.size()) break;
        // U+1100 is E1 84 80: three-byte sequences from there up, and four-byte ones, are wide.
        const auto second = length > 1 ? static_cast<unsigned char>(utf8[end + 1]) : 0;
        const bool wide = length == 4 || (length == 3 && (lead > 0xE1 || (lead == 0xE1 && second >= 0x84)));
        used += wide ? 2 : 1;
        if (used > columns) break;
        end += length;
    }
    return utf8.substr(0, end);
}

void ShowStatus(std::string_view utf8) {
    const std::lock_guard<std::mutex> lock(g_terminal);
    std::fflush(stdout);  // what stdout holds belongs above the status, on a shared terminal
    winsize size{};
    // The last column stays free: a character there makes some terminals wrap.
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        utf8 = FitColumns(utf8, size.ws_col - 1);
    WriteError("\r" + ToConsoleText(utf8, g_encoding) + "\x1b[K");
    g_statusShown = true;
}

void ClearStatus() {
    const std::lock_guard<std::mutex> lock(g_terminal);
    ClearStatusLocked();
}

}  // namespace tessaro
