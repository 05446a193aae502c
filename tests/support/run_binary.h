// Runs the real tessaro binary and captures what it prints, as raw bytes.
//
// On Windows (run_binary_win.cpp) the binary is tessaro.exe, started with CreateProcessW from a
// wide command line built from the UTF-8 arguments; `env` is added to the test's own environment
// (a Windows process needs some of it), and only env, workingDir and timeoutSeconds apply: a test
// that asks for anything else fails. exitCode is the process's exit code as it is, signal stays 0.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tessaro::testing {

// Where the child's standard error (and perhaps output) goes: a pipe, or a pseudo-terminal in raw
// mode, whose bytes land in RunResult::err (with forBoth, standard output's too, in the order the
// terminal got them).
enum class Terminal { none, forStderr, forBoth };

struct RunOptions {
    std::vector<std::string> env{"LANG=C.UTF-8"};  // the whole environment of the child
    std::string workingDir;                        // empty: the test's own
    long long memoryLimitBytes = 0;                // RLIMIT_AS when > 0
    long long fileSizeLimitBytes = 0;              // RLIMIT_FSIZE when > 0, with SIGXFSZ ignored
    int openFilesLimit = 0;                        // RLIMIT_NOFILE when > 0
    int timeoutSeconds = 60;                       // the child is killed after this
    long long killAfterMicroseconds = 0;           // SIGKILL this long after the start when > 0
    int uid = -1;                                  // run as this user when >= 0 (needs root):
    int gid = -1;                                  // and this group, no supplementary groups
    int cpus = 0;                                  // run on this many processors when > 0
    // The binary stops itself each time it reaches this step (TESSARO_TEST_PAUSE); onPause(n)
    // then runs, n counting the stops from 1, while it is held there, and returns the signal to
    // send it: SIGCONT to go on, or one that ends it (sent with SIGCONT after it).
    std::string pauseAt;
    std::function<int(int)> onPause;
    Terminal terminal = Terminal::none;
};

struct RunResult {
    int exitCode = -1;     // -1 when it did not exit normally
    int signal = 0;        // the signal that ended it, if any
    bool timedOut = false;
    bool killed = false;   // killAfterMicroseconds came while it was still running
    double seconds = 0;    // wall time from the start until its output closed
    int processGroup = 0;  // Linux: its own process group, which every process it forks is in
    std::string out;       // everything written to standard output
    std::string err;       // everything written to standard error
};

// When the environment variable TESSARO_RUN_WRAPPER is set (e.g. "valgrind -q"), the binary runs
// under that command: its words, split on spaces, come first (the first one looked up on PATH),
// then the binary and its arguments. A wrapped run gets no RLIMIT_AS and 20 times the timeout.
RunResult RunTessaro(const std::vector<std::string>& args, const RunOptions& options = {});

// The binary RunTessaro starts (Linux), for tests that start it from a shell.
std::string TessaroPath();

// Whether TESSARO_RUN_WRAPPER is in force.
bool RunsWrapped();

}  // namespace tessaro::testing
