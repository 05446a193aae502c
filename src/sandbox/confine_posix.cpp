#include "sandbox/confine.h"

#include <sys/prctl.h>

#include <csignal>

namespace tessaro {

bool ConfineDecoder(const DecoderLimits& limits) {
    // Its identity first: a change of it clears the two settings after it. The child dies with
    // its parent, and leaves nothing to read about it in a core file.
    if (!DropPrivileges()) return false;
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || prctl(PR_SET_DUMPABLE, 0) != 0) return false;
    return ForbidCoreDumps() && SetDecoderLimits(0, limits) && InstallDecoderFilter();
}

}  // namespace tessaro
