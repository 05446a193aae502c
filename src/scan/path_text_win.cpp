#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <climits>

#include "scan/path_text.h"
#include "scan/path_text_win.h"

namespace tessaro {

namespace {

bool FitsInt(std::size_t size) { return size <= static_cast<std::size_t>(INT_MAX); }

std::wstring FullPath(const std::wstring& path) {
    if (path.empty()) return {};
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return {};
    full.resize(length);
    return full;
}

bool StartsWith(std::wstring_view text, std::wstring_view start) {
    return text.substr(0, start.size()) == start;
}

}  // namespace

std::wstring Utf16FromUtf8(std::string_view utf8) {
    if (utf8.empty() || !FitsInt(utf8.size())) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string Utf8FromUtf16(std::wstring_view utf16) {
    if (utf16.empty() || !FitsInt(utf16.size())) return {};
    const int size = static_cast<int>(utf16.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

std::string AnsiFromUtf8(std::string_view utf8) {
    const UINT codePage = GetACP();
    // A system whose ANSI code page is UTF-8 takes the text as it is (and allows no flags).
    if (codePage == CP_UTF8) return std::string(utf8);
    const std::wstring wide = Utf16FromUtf8(utf8);
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr,
                                           0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string ansi(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, ansi.data(), length,
                        nullptr, nullptr);
    return ansi;
}

std::wstring WidePath(std::string_view utf8) {
    std::wstring path = Utf16FromUtf8(utf8);
    if (StartsWith(path, L"\\\\?\\")) return path;
    std::wstring full = FullPath(path);
    if (full.size() < MAX_PATH) return path;
    if (StartsWith(full, L"\\\\.\\")) return full;  // a device path takes no prefix
    if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string ResolvedPath(const std::string& path) { return Utf8FromUtf16(FullPath(Utf16FromUtf8(path))); }

}  // namespace tessaro
