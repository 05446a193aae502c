#include "app/command_line.h"

namespace tessaro {

int RunCommandLine(int, char**) { return 0; }

}  // namespace tessaro
