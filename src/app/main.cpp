#include "app/command_line.h"
#include "os/program_args.h"
#ifdef _WIN32
#include "sandbox/child_win.h"
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // A decoding worker started by this very program serves its parent and nothing else.
    if (tessaro::RunDecoderWorkerIfAsked()) return 0;
#endif
    return tessaro::RunCommandLine(tessaro::ProgramArguments(argc, argv));
}
