// The program's arguments.
#pragma once

#include <string>
#include <vector>

namespace tessaro {

// The program's arguments as text the rest of the program takes: on Linux argv as it is; on
// Windows read from the wide command line (GetCommandLineW) and converted to UTF-8, since argv
// holds them in the ANSI code page, which cannot hold every name.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace tessaro
