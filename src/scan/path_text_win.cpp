#include "os/wide_text_win.h"
#include "os/windows_win.h"
#include "scan/path_text.h"

namespace tessaro {

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
