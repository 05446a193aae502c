// The console entry: reads the arguments, prints usage or help, or runs the batch.
#pragma once

namespace tessaro {

// Returns the process exit status.
int RunCommandLine(int argc, char** argv);

}  // namespace tessaro
