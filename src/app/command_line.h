// The console entry: reads the arguments, prints usage or help, or runs the batch.
#pragma once

#include <string>
#include <vector>

namespace tessaro {

// args[0] is the program, args[1] the root directory, args[2] the delete switch. Returns the
// process exit status.
int RunCommandLine(const std::vector<std::string>& args);

}  // namespace tessaro
