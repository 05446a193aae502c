#include "sandbox/confine.h"

#include <sys/prctl.h>

#include <csignal>

namespace tessaro {

bool ConfineDecoder(const DecoderLimits& limits) {
    // The child dies with its parent, and leaves nothing to read about it in a core file.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || prctl(PR_SET_DUMPABLE, 0) != 0) return false;
    return ForbidCoreDumps() && SetDecoderLimits(0, limits) && InstallDecoderFilter();
}

}  // namespace tessaro
