// Text at the edge of the Windows API: the program keeps UTF-8, Windows takes UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace tessaro {

// UTF-16 as UTF-8. An unpaired surrogate, which Windows allows in names, is kept as its own
// three-byte form (as WTF-8 does), so every name converts back to the very same UTF-16.
std::string Utf8FromWide(std::wstring_view wide);

// UTF-8 (and the three-byte forms of unpaired surrogates) as UTF-16; a byte that starts no
// well-formed character becomes U+FFFD.
std::wstring WideFromUtf8(std::string_view utf8);

// A path for the wide file functions: as it is while short, and in the \\?\ (or \\?\UNC\) form of
// its full path once it nears MAX_PATH, so longer paths work whatever the system's settings.
std::wstring ApiPath(const std::string& path);

// The text in the process's ANSI code page (GetACP(): 936 on Chinese Windows), by which paths are
// ordered and redirected output is written. A character the code page cannot hold becomes its
// default character ("?"), never a best-fit look-alike, which could turn a name into another
// name or into a separator.
std::string AnsiFromUtf8(std::string_view utf8);

}  // namespace tessaro
