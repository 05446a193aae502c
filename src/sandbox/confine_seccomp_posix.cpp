#include "sandbox/confine.h"

#include <sched.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <string_view>
#include <memory>
#include <vector>

#include "os/unique_fd.h"

namespace tessaro {

namespace {

// What decoding needs: reading the tiles and writing the mosaic through descriptors it was
// given, talking to its parent over the socket it was given, memory, threads, time, and ending;
// and telling who it is. Nothing that names a path.
constexpr const char* kAllowed[] = {
    "read", "readv", "pread64", "write", "writev", "pwrite64", "pwritev", "lseek", "close", "fstat",
    "recvmsg", "sendmsg", "recvfrom", "sendto",
    "getuid", "geteuid", "getgid", "getegid", "getgroups", "capget",
    "brk", "mmap", "munmap", "mremap", "mprotect", "madvise",
    "futex", "set_robust_list", "rseq", "set_tid_address",
    "rt_sigprocmask", "rt_sigaction", "rt_sigreturn", "sigaltstack",
    "gettid", "getpid", "sched_yield", "sched_getaffinity", "getrandom", "sysinfo",
    "clock_gettime", "clock_nanosleep", "nanosleep", "gettimeofday",
    "exit", "exit_group",
#ifdef TESSARO_SANITIZED
    // What AddressSanitizer's own bookkeeping asks of the system (starting a thread, for one).
    "pipe2", "prlimit64", "getrlimit", "mincore", "readlink", "sched_getparam",
#endif
};

struct FilterFree {
    void operator()(void* filter) const { seccomp_release(static_cast<scmp_filter_ctx>(filter)); }
};

// The filter as a BPF program: built by libseccomp once, in the parent, so that each child only
// installs it (building it costs far more than a small group's decoding).
std::vector<sock_filter> BuildFilter() {
    std::unique_ptr<void, FilterFree> filter(seccomp_init(SCMP_ACT_KILL_PROCESS));
    if (!filter) return {};
    scmp_filter_ctx ctx = filter.get();
    for (const char* name : kAllowed) {
        const int call = seccomp_syscall_resolve_name(name);
        if (call != __NR_SCMP_ERROR && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, call, 0) != 0)
            return {};
    }
    // Threads, but no new processes: clone only with CLONE_THREAD, and clone3 (whose flags a
    // filter cannot see) answers ENOSYS, on which the C library falls back to clone.
    if (seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
                         SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)) != 0 ||
        seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) != 0)
        return {};
    // fcntl only for what the C library and decoding ask of it: descriptor flags, and file status
    // flags without O_ASYNC. Never an owner or a signal for the descriptor's events, a lease, a
    // notification or a lock: any of those ends the process.
    for (const int command : {F_GETFD, F_SETFD, F_GETFL, F_DUPFD, F_DUPFD_CLOEXEC})
        if (seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(fcntl), 1, SCMP_A1(SCMP_CMP_EQ, static_cast<scmp_datum_t>(command))) != 0)
            return {};
    if (seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(fcntl), 2, SCMP_A1(SCMP_CMP_EQ, F_SETFL),
                         SCMP_A2(SCMP_CMP_MASKED_EQ, O_ASYNC, 0)) != 0)
        return {};
    // A status by path fails, and so does this C library's fstat (which passes an empty path and
    // AT_EMPTY_PATH, a path all the same to a filter): what it would tell of a held descriptor is
    // had otherwise.
    for (const char* name : {"newfstatat", "statx", "stat", "lstat", "access", "faccessat",
                             "faccessat2", "readlink", "readlinkat"}) {
#ifdef TESSARO_SANITIZED
        if (std::string_view(name) == "readlink") continue;  // allowed above
#endif
        const int call = seccomp_syscall_resolve_name(name);
        if (call != __NR_SCMP_ERROR && seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EPERM), call, 0) != 0)
            return {};
    }
    // Opening anything fails (the C library's allocator, for one, looks for a tuning file and
    // copes without it); the process is not ended for trying. Signalling is not allowed at all,
    // not even to itself: abort() then ends the process by the filter instead.
    for (const char* name : {"open", "openat", "openat2"}) {
        const int call = seccomp_syscall_resolve_name(name);
        if (call != __NR_SCMP_ERROR && seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EACCES), call, 0) != 0)
            return {};
    }
    UniqueFd program(memfd_create("tessaro-filter", MFD_CLOEXEC));
    struct stat st;
    if (!program || seccomp_export_bpf(ctx, program.get()) != 0 || fstat(program.get(), &st) != 0 ||
        st.st_size <= 0 || st.st_size % sizeof(sock_filter) != 0)
        return {};
    std::vector<sock_filter> code(static_cast<std::size_t>(st.st_size) / sizeof(sock_filter));
    if (pread(program.get(), code.data(), static_cast<std::size_t>(st.st_size), 0) != st.st_size)
        return {};
    return code;
}

const std::vector<sock_filter>& DecoderFilter() {
    static const std::vector<sock_filter> filter = BuildFilter();
    return filter;
}

}  // namespace

void PrepareDecoderFilter() {
#ifndef TESSARO_VALGRIND  // (where there is no filter, libseccomp need not even probe the kernel)
    static_cast<void>(DecoderFilter());
#endif
}

bool InstallDecoderFilter() {
#ifdef TESSARO_VALGRIND
    return true;  // valgrind cannot run a process under a system-call filter
#endif
    const std::vector<sock_filter>& code = DecoderFilter();
    if (code.empty()) return false;
    sock_fprog program{static_cast<unsigned short>(code.size()), const_cast<sock_filter*>(code.data())};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) == 0;
}

}  // namespace tessaro
