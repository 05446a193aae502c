// Linux: the encoding program text is printed in, picked from the locale.
#pragma once

#include <string>
#include <string_view>

namespace tessaro {

enum class ConsoleEncoding { utf8, gbk, gb18030 };

// The encoding for a locale's codeset name (as nl_langinfo(CODESET) reports it): GBK, GB2312 and
// CP936 print as GBK, GB18030 as GB18030 (letter case, '-' and '_' ignored); anything else,
// the C/POSIX locale included, prints UTF-8.
ConsoleEncoding EncodingForCodeset(std::string_view codeset);

// Converts UTF-8 program text to the encoding; text that cannot be converted is kept as it is.
std::string ToConsoleText(std::string_view utf8, ConsoleEncoding encoding);

}  // namespace tessaro
