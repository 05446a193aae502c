#include "windows_test_win.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace tessaro::testing {

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
    return wide;
}

std::string InCodePage(std::string_view utf8, unsigned codePage) {
    const std::wstring wide = Wide(utf8);
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    std::string text(static_cast<std::size_t>(
                         WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr)),
                     '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), size, text.data(), static_cast<int>(text.size()),
                        nullptr, nullptr);
    return text;
}

std::string Redirected(std::string_view utf8) {
    std::string out;
    for (char c : InCodePage(utf8, 936)) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

unsigned AnsiCodePage() { return GetACP(); }

HeldFile::HeldFile(const std::string& path)
    : handle_(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}

HeldFile::~HeldFile() {
    if (held()) CloseHandle(handle_);
}

bool HeldFile::held() const { return handle_ != INVALID_HANDLE_VALUE; }

}  // namespace tessaro::testing
