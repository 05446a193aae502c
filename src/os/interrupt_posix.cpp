#include "os/interrupt.h"

#include "os/cpu_quota.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace tessaro {

namespace {

std::atomic<int> g_signal{0};
int g_wakeRead = -1;
int g_wakeWrite = -1;

void OnInterrupt(int signal) {
    int expected = 0;
    if (g_signal.compare_exchange_strong(expected, signal)) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(g_wakeWrite, &byte, 1);
    }
}

}  // namespace

void CatchInterrupts() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    g_wakeRead = ends[0];
    g_wakeWrite = ends[1];
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

int InterruptSignal() { return g_signal.load(); }

int InterruptFd() { return g_wakeRead; }

void ResignalIfInterrupted() {
    const int signal = g_signal.load();
    if (signal == 0) return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
}

int DescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1 << 20;
    return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 1 << 20));
}

bool OutOfDescriptors() { return errno == EMFILE || errno == ENFILE; }

int UsableCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    int count = CPU_COUNT(&set);
    if (const int quota = CpusByQuota(); quota > 0 && quota < count) count = quota;
    return count > 0 ? count : 1;
}

}  // namespace tessaro
