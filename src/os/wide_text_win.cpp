#include "os/wide_text_win.h"

#include <climits>
#include <cstdint>

#include "os/windows_win.h"

namespace tessaro {

namespace {

constexpr wchar_t kReplacement = 0xFFFD;
// Paths from this length on take the \\?\ form (CreateDirectoryW stops 12 short of MAX_PATH).
constexpr std::size_t kLongPathFrom = MAX_PATH - 12;

bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

void AppendUtf16(std::wstring& out, uint32_t code) {
    if (code < 0x10000) {
        out += static_cast<wchar_t>(code);
    } else {
        code -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (code >> 10));
        out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    }
}

// Decodes the character starting at utf8[at]: its code point and length, or length 0 when the
// bytes there form none.
struct Decoded {
    uint32_t code = 0;
    std::size_t length = 0;
};

Decoded DecodeAt(std::string_view utf8, std::size_t at) {
    const auto lead = static_cast<unsigned char>(utf8[at]);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    uint32_t code = 0;
    uint32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return {};
    }
    if (utf8.size() - at < length) return {};
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(utf8[at + i]);
        if ((next & 0xC0) != 0x80) return {};
        code = (code << 6) | (next & 0x3F);
    }
    if (code < least || code > 0x10FFFF) return {};  // overlong, or past Unicode
    return {code, length};
}

}  // namespace

std::string Utf8FromWide(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        uint32_t code = static_cast<uint16_t>(wide[i]);
        if (IsHighSurrogate(code) && i + 1 < wide.size() &&
            IsLowSurrogate(static_cast<uint16_t>(wide[i + 1]))) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint16_t>(wide[++i]) - 0xDC00);
        }
        AppendUtf8(out, code);
    }
    return out;
}

std::wstring WideFromUtf8(std::string_view utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        const Decoded decoded = DecodeAt(utf8, at);
        if (decoded.length == 0) {
            out += kReplacement;
            ++at;
        } else {
            AppendUtf16(out, decoded.code);
            at += decoded.length;
        }
    }
    return out;
}

std::wstring ApiPath(const std::string& path) {
    std::wstring wide = WideFromUtf8(path);
    if (wide.size() < kLongPathFrom || wide.starts_with(L"\\\\?\\") || wide.starts_with(L"\\??\\"))
        return wide;
    DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0) return wide;
    std::wstring full(length, L'\0');
    length = GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
    if (length == 0 || length >= full.size()) return wide;
    full.resize(length);
    if (full.starts_with(L"\\\\.\\")) return full;  // a device's name
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

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

}  // namespace tessaro
