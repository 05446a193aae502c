// Runs one command and records what it cost: wall time, CPU time and peak resident set.
//
//   tessaro_bench_timed RESULT_FILE LOG_FILE COMMAND [ARG...]
//
// The command's standard output and error go to LOG_FILE, its standard input is /dev/null. Once
// it ends, RESULT_FILE gets one line: "WALL_S USER_S SYS_S MAXRSS_KIB EXIT" (seconds with
// microsecond digits; EXIT is the exit code, or 128 + the signal that ended it). CPU time and peak
// RSS come from wait4, so they cover the command and every descendant it waited for (a shell
// loop's RSS is its largest child's). The exit code is the command's.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace {

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Seconds(const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: tessaro_bench_timed RESULT_FILE LOG_FILE COMMAND [ARG...]\n");
        return 2;
    }
    const int log = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0) {
        std::perror(argv[2]);
        return 2;
    }
    const double start = Now();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 2;
    }
    if (child == 0) {
        const int in = open("/dev/null", O_RDONLY);
        if (in >= 0) dup2(in, 0);
        dup2(log, 1);
        dup2(log, 2);
        execvp(argv[3], argv + 3);
        std::perror(argv[3]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
    }
    const double wall = Now() - start;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    FILE* out = std::fopen(argv[1], "w");
    if (!out) {
        std::perror(argv[1]);
        return 2;
    }
    std::fprintf(out, "%.6f %.6f %.6f %ld %d\n", wall, Seconds(usage.ru_utime),
                 Seconds(usage.ru_stime), usage.ru_maxrss, code);
    std::fclose(out);
    return code;
}
