#include "app/command_line.h"

#include <csignal>
#include <string>

#include "app/batch_driver.h"
#include "app/console.h"
#include "app/messages.h"
#include "sandbox/client.h"
#include "os/interrupt.h"

namespace tessaro {

int RunCommandLine(const std::vector<std::string>& args) {
    InitConsole();
#ifdef SIGXFSZ
    // Under a file-size limit, a mosaic that does not fit must fail its save like a full disk
    // does, instead of killing the run.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    if (args.size() < 2) {
        PrintText(UsageText());
        return 0;
    }
    if (args[1] == "/?") {
        PrintText(HelpText());
        return 0;
    }
    const bool deleteSources = args.size() >= 3 && args[2] == "1";
    // Before anything else is under way, so that the helper that forks the decoders is small.
    DecoderChild::AtProcessStart();
    CatchInterrupts();
    const BatchOutcome outcome = SpliceTree(args[1], deleteSources, ErrorIsTerminal());
    ResignalIfInterrupted();
    switch (outcome) {
        case BatchOutcome::allSaved: return 0;
        case BatchOutcome::someFailed: return 1;
        case BatchOutcome::rootUnreadable: return 2;
    }
    return 2;
}

}  // namespace tessaro
