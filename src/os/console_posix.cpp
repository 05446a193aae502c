#include <iconv.h>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "os/console_io.h"
#include "os/console_posix.h"

namespace tessaro {

namespace {

ConsoleEncoding g_encoding = ConsoleEncoding::utf8;

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

bool ErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

bool UserReadsChinese() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(name); value != nullptr && *value != '\0')
            return std::string_view(value).substr(0, 2) == "zh";
    return false;
}

bool ConsoleTakesUtf8() { return g_encoding == ConsoleEncoding::utf8; }

std::string ConsoleText(std::string_view utf8) { return ToConsoleText(utf8, g_encoding); }

void WriteOutput(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void WriteErrorOutput(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); }

int ErrorColumns() {
    winsize size{};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

bool ErrorErasesByEscape() { return true; }

}  // namespace tessaro
