// Windows: path text, UTF-8 inside the program (os/wide_text_win.h converts it to and from
// UTF-16), in the bytes of the ANSI code page, by which paths are ordered and redirected output
// is written.
#pragma once

#include <string>
#include <string_view>

namespace tessaro {

// The text in the process's ANSI code page (GetACP(): 936 on Chinese Windows). A character the
// code page cannot hold becomes its default character ("?"), never a best-fit look-alike, which
// could turn a name into another name or into a separator.
std::string AnsiFromUtf8(std::string_view utf8);

}  // namespace tessaro
