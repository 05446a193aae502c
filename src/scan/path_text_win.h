// Windows: path text, UTF-8 inside the program, to and from what the system takes.
#pragma once

#include <string>
#include <string_view>

namespace tessaro {

// UTF-8 to UTF-16 and back; a malformed sequence becomes U+FFFD.
std::wstring Utf16FromUtf8(std::string_view utf8);
std::string Utf8FromUtf16(std::wstring_view utf16);

// The text in the process's ANSI code page (GetACP(): 936 on Chinese Windows). A character the
// code page cannot hold becomes its default character ("?"), never a best-fit look-alike, which
// could turn a name into another name or into a separator.
std::string AnsiFromUtf8(std::string_view utf8);

// The path to hand to a wide file function: UTF-16, and when it is longer than MAX_PATH, made
// absolute and prefixed with \\?\ (\\?\UNC\ for \\server\share paths), so it is not cut short.
std::wstring WidePath(std::string_view utf8);

}  // namespace tessaro
