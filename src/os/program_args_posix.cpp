#include "os/program_args.h"

namespace tessaro {

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv, argv + argc}; }

}  // namespace tessaro
