// The console entry: reads the arguments, prints usage or help, or runs the batch.
#pragma once

#include <string>
#include <vector>

namespace tessaro {

// The program's arguments as text the rest of the program takes: on Linux argv as it is; on
// Windows read from the wide command line (GetCommandLineW) and converted to UTF-8, since argv
// holds them in the ANSI code page, which cannot hold every name.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// args[0] is the program, args[1] the root directory, args[2] the delete switch. Returns the
// process exit status.
int RunCommandLine(const std::vector<std::string>& args);

}  // namespace tessaro
