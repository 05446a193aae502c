#include <climits>

#include "os/wide_text_win.h"
#include "os/windows_win.h"
#include "scan/path_text.h"
#include "scan/path_text_win.h"

namespace tessaro {

std::string AnsiFromUtf8(std::string_view utf8) {
    const UINT codePage = GetACP();
    // A system whose ANSI code page is UTF-8 takes the text as it is (and allows no flags).
    if (codePage == CP_UTF8) return std::string(utf8);
    const std::wstring wide = WideFromUtf8(utf8);
    if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX)) return {};
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr,
                                           0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string ansi(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, ansi.data(), length,
                        nullptr, nullptr);
    return ansi;
}

std::string ResolvedPath(const std::string& path) {
    const std::wstring wide = WideFromUtf8(path);
    if (wide.empty()) return {};
    DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0) return {};
    std::wstring full(length, L'\0');
    length = GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
    if (length == 0 || length >= full.size()) return {};
    full.resize(length);
    return Utf8FromWide(full);
}

}  // namespace tessaro
