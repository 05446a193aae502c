#include "run_binary.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace tessaro::testing {

namespace {

// TESSARO_RUN_WRAPPER split on spaces; empty when it is unset or blank.
std::vector<std::string> WrapperWords() {
    std::vector<std::string> words;
    const char* wrapper = getenv("TESSARO_RUN_WRAPPER");
    if (wrapper == nullptr) return words;
    std::string word;
    for (const char* c = wrapper;; ++c) {
        if (*c == ' ' || *c == '\0') {
            if (!word.empty()) words.push_back(word);
            word.clear();
            if (*c == '\0') break;
        } else {
            word += *c;
        }
    }
    return words;
}

// The binary, where a run as another user can reach it: the build tree may sit in a directory
// only its owner may enter (a clone in a mktemp -d directory), so such runs get a copy in a
// directory of their own that anyone may enter, made once and removed when the tests end.
std::string BinaryForOtherUsers() {
    static const std::string copy = [] {
        char dir[] = "/tmp/tessaro-binary-XXXXXX";
        if (mkdtemp(dir) == nullptr || chmod(dir, 0755) != 0) return std::string(TESSARO_BINARY);
        const std::string path = std::string(dir) + "/tessaro";
        std::error_code error;
        if (!std::filesystem::copy_file(TESSARO_BINARY, path, error) || chmod(path.c_str(), 0755) != 0)
            return std::string(TESSARO_BINARY);
        static const struct Remover {
            std::string dir;
            ~Remover() { std::filesystem::remove_all(dir); }
        } remover{dir};
        return path;
    }();
    return copy;
}

// How much longer a wrapped run may take before it is killed.
constexpr int kWrappedTimeoutFactor = 20;

[[noreturn]] void ExecChild(std::string program, const std::vector<std::string>& args,
                            const RunOptions& options, int outFd, int errFd) {
    setpgid(0, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    if (!options.workingDir.empty() && chdir(options.workingDir.c_str()) != 0) _exit(126);
    std::vector<std::string> wrapper = WrapperWords();
    std::vector<char*> argv;
    for (std::string& word : wrapper) argv.push_back(word.data());
    argv.push_back(program.data());
    std::vector<std::string> argsCopy = args;
    for (std::string& arg : argsCopy) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envCopy = options.env;
    if (!options.pauseAt.empty()) envCopy.push_back("TESSARO_TEST_PAUSE=" + options.pauseAt);
    // Sanitizer settings reach the child, so that a finding there fails the test too.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char* value = getenv(name)) envCopy.push_back(std::string(name) + "=" + value);
    std::vector<char*> envp;
    for (std::string& var : envCopy) envp.push_back(var.data());
    envp.push_back(nullptr);
    // Nothing of the test program's but standard input, output and error reaches the binary (a
    // descriptor the test runner left open would count against a descriptor limit).
    close_range(3, ~0u, 0);
    // The limits come last: under a tight address-space limit, this copy of the test program
    // could allocate nothing more.
#ifndef TESSARO_SANITIZED
    // A wrapper such as valgrind needs far more address space than the binary alone.
    if (options.memoryLimitBytes > 0 && wrapper.empty()) {
        rlimit limit{static_cast<rlim_t>(options.memoryLimitBytes),
                     static_cast<rlim_t>(options.memoryLimitBytes)};
        setrlimit(RLIMIT_AS, &limit);
    }
#endif
    if (options.fileSizeLimitBytes > 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{static_cast<rlim_t>(options.fileSizeLimitBytes),
                     static_cast<rlim_t>(options.fileSizeLimitBytes)};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.openFilesLimit > 0) {
        rlimit limit{static_cast<rlim_t>(options.openFilesLimit),
                     static_cast<rlim_t>(options.openFilesLimit)};
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (options.cpus > 0) {
        cpu_set_t set;
        CPU_ZERO(&set);
        for (int cpu = 0; cpu < options.cpus; ++cpu) CPU_SET(cpu, &set);
        sched_setaffinity(0, sizeof set, &set);
    }
    if (options.gid >= 0 && (setgroups(0, nullptr) != 0 || setgid(options.gid) != 0)) _exit(125);
    if (options.uid >= 0 && setuid(options.uid) != 0) _exit(125);
    if (wrapper.empty())
        execve(program.c_str(), argv.data(), envp.data());
    else
        execvpe(wrapper[0].c_str(), argv.data(), envp.data());  // found on the test's PATH
    _exit(127);
}

}  // namespace

std::string TessaroPath() { return TESSARO_BINARY; }

bool RunsWrapped() { return !WrapperWords().empty(); }

RunResult RunTessaro(const std::vector<std::string>& args, const RunOptions& options) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (options.terminal == Terminal::none) {
        if (pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    } else {
        termios raw;
        if (openpty(&errPipe[0], &errPipe[1], nullptr, nullptr, nullptr) != 0 ||
            tcgetattr(errPipe[1], &raw) != 0)
            throw std::runtime_error("openpty failed");
        cfmakeraw(&raw);  // bytes pass unchanged: no "\r" added before "\n"
        tcsetattr(errPipe[1], TCSANOW, &raw);
        for (int fd : errPipe) fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    const std::string program = options.uid >= 0 ? BinaryForOtherUsers() : TESSARO_BINARY;
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0)
        ExecChild(program, args, options, options.terminal == Terminal::forBoth ? errPipe[1] : outPipe[1],
                  errPipe[1]);
    setpgid(pid, pid);  // (also done by the child; whichever comes first)
    close(outPipe[1]);
    close(errPipe[1]);

    RunResult result;
    result.processGroup = pid;
    const auto start = std::chrono::steady_clock::now();
    const int timeoutSeconds =
        options.timeoutSeconds * (RunsWrapped() ? kWrappedTimeoutFactor : 1);
    const auto deadline = start + std::chrono::seconds(timeoutSeconds);
    const auto killAt = start + std::chrono::microseconds(options.killAfterMicroseconds);
    bool killPending = options.killAfterMicroseconds > 0;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    int status = 0;
    bool reaped = false;
    int stops = 0;
    while (open > 0) {
        if (!options.pauseAt.empty() && !reaped) {
            // Stops are seen by polling: a held binary writes nothing that would wake the poll.
            const pid_t seen = waitpid(pid, &status, WUNTRACED | WNOHANG);
            if (seen == pid && WIFSTOPPED(status)) {
                const int signal = options.onPause ? options.onPause(++stops) : SIGCONT;
                if (signal != SIGCONT) kill(pid, signal);
                kill(pid, SIGCONT);
                continue;
            }
            reaped = seen == pid;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        if (killPending && now >= killAt) {
            kill(pid, SIGKILL);
            killPending = false;
            result.killed = true;
            continue;
        }
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
            (killPending ? std::min(deadline, killAt) : deadline) - now);
        timespec pause{static_cast<time_t>(wait.count() / 1000000000),
                       static_cast<long>(wait.count() % 1000000000)};
        if (!options.pauseAt.empty() && !reaped) pause = {0, 2000000};
        if (ppoll(fds, 2, &pause, nullptr) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[65536];
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {  // a terminal's end is EIO
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& fd : fds)
        if (fd.fd >= 0) close(fd.fd);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!reaped) waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

}  // namespace tessaro::testing
