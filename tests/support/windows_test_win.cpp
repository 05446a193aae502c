#include "windows_test_win.h"

#include "os/wide_text_win.h"
#include "os/windows_win.h"

namespace tessaro::testing {

std::string InCodePage(std::string_view utf8, unsigned codePage) {
    const std::wstring wide = WideFromUtf8(utf8);
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

bool MakeDirectoryAsIs(const std::string& path) {
    return CreateDirectoryW(WideFromUtf8(path).c_str(), nullptr) != 0;
}

bool MoveAsIs(const std::string& from, const std::string& to) {
    return MoveFileW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str()) != 0;
}

HeldFile::HeldFile(const std::string& path)
    : handle_(CreateFileW(ApiPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}

HeldFile::~HeldFile() {
    if (held()) CloseHandle(handle_);
}

bool HeldFile::held() const { return handle_ != INVALID_HANDLE_VALUE; }

}  // namespace tessaro::testing
