// Test modes that probe the decoding child's confinement from inside, as code a hostile tile ran
// there would: each tries one thing the child must not do. Refused (failed, or the process ended
// by its filter), the child ends without answering and its group fails; allowed, the child goes
// on and its group is joined, which the tests take for a breach.
#include <fcntl.h>
#include <signal.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sandbox/test_modes.h"

namespace tessaro {

namespace {

bool Breached(std::string_view mode, int channel) {
    if (mode == "open-file") return open("/", O_RDONLY | O_DIRECTORY) >= 0;
    if (mode == "stat-path") {
        struct stat st;
        return stat("/", &st) == 0;
    }
    if (mode == "run-program") {
        const pid_t pid = fork();
        if (pid == 0) _exit(0);
        return pid > 0;
    }
    // No signal at all, to another process or (the filter's part alone) even to itself.
    if (mode == "signal") return kill(1, 0) == 0 || kill(getpid(), 0) == 0;
    if (mode == "setown") return fcntl(channel, F_SETOWN, 1) == 0;
    if (mode == "async") return fcntl(channel, F_SETFL, fcntl(channel, F_GETFL) | O_ASYNC) == 0;
    if (mode == "raise-limits") {
        rlimit limit{RLIM_INFINITY, RLIM_INFINITY};
        return setrlimit(RLIMIT_AS, &limit) == 0 || setrlimit(RLIMIT_CPU, &limit) == 0;
    }
    if (mode == "privileges") {
        // Root's user or group, among its own or its supplementary ones, or any capability.
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2] = {};
        const bool capable = syscall(SYS_capget, &header, caps) != 0 ||
                             (caps[0].effective | caps[1].effective | caps[0].permitted | caps[1].permitted) != 0;
        gid_t groups[64];
        const int count = getgroups(64, groups);
        bool rootGroup = count < 0;
        for (int i = 0; i < count; ++i) rootGroup = rootGroup || groups[i] == 0;
        return getuid() == 0 || geteuid() == 0 || getgid() == 0 || getegid() == 0 || rootGroup || capable;
    }
    return true;  // not a probe
}

}  // namespace

void ProbeConfinementForTest(std::string_view mode, int channel) {
    if (!Breached(mode, channel)) _exit(0);
}

}  // namespace tessaro
