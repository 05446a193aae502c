#include "os/console_io.h"

#include <algorithm>
#include <cstdio>

namespace tessaro {

void FlushConsoleOutput() { std::fflush(stdout); }

std::string WithCrLf(std::string_view text) {
    std::string lines;
    lines.reserve(text.size() + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
    for (char c : text) {
        if (c == '\n') lines += '\r';
        lines += c;
    }
    return lines;
}

}  // namespace tessaro
