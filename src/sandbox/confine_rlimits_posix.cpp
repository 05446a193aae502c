#include "sandbox/confine.h"

#include <sys/resource.h>

#include <algorithm>

namespace tessaro {

namespace {

// Sets the soft limit of `resource` for process pid (0: this one), within its hard limit.
bool SetSoftLimit(pid_t pid, int resource, uint64_t value) {
    rlimit limit{};
    if (prlimit(pid, static_cast<__rlimit_resource>(resource), nullptr, &limit) != 0) return false;
    limit.rlim_cur = std::min<rlim_t>(static_cast<rlim_t>(value), limit.rlim_max);
    return prlimit(pid, static_cast<__rlimit_resource>(resource), &limit, nullptr) == 0;
}

}  // namespace

bool SetDecoderLimits(int pid, const DecoderLimits& limits) {
#if !defined(TESSARO_SANITIZED) && !defined(TESSARO_VALGRIND)
    // (AddressSanitizer and valgrind reserve far more address space than the program uses.)
    if (limits.addressSpaceBytes > 0 && !SetSoftLimit(pid, RLIMIT_AS, limits.addressSpaceBytes))
        return false;
#endif
    return limits.cpuSeconds == 0 || SetSoftLimit(pid, RLIMIT_CPU, limits.cpuSeconds);
}

bool ForbidCoreDumps() {
    const rlimit noCore{0, 0};
    return setrlimit(RLIMIT_CORE, &noCore) == 0;
}

}  // namespace tessaro
