// Runs the real tessaro binary and captures what it prints.
#pragma once

#include <string>
#include <vector>

namespace tessaro::testing {

struct RunOptions {
    std::vector<std::string> env{"LANG=C.UTF-8"};  // the whole environment of the child
    std::string workingDir;                        // empty: the test's own
    long long memoryLimitBytes = 0;                // RLIMIT_AS when > 0
    long long fileSizeLimitBytes = 0;              // RLIMIT_FSIZE when > 0, with SIGXFSZ ignored
    int timeoutSeconds = 60;                       // the child is killed after this
};

struct RunResult {
    int exitCode = -1;     // -1 when it did not exit normally
    int signal = 0;        // the signal that ended it, if any
    bool timedOut = false;
    std::string out;       // everything written to standard output
    std::string err;       // everything written to standard error
};

RunResult RunTessaro(const std::vector<std::string>& args, const RunOptions& options = {});

}  // namespace tessaro::testing
