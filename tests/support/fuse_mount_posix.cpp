#include "fuse_mount.h"

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace tessaro::testing {

namespace {

bool Run(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

BindMount::BindMount(const std::string& source, const std::string& mountPoint,
                     const std::vector<std::string>& options)
    : mountPoint_(mountPoint) {
    std::error_code ignored;
    std::filesystem::create_directories(source, ignored);
    std::filesystem::create_directories(mountPoint, ignored);
    std::vector<std::string> words{"bindfs"};
    words.insert(words.end(), options.begin(), options.end());
    words.push_back(source);
    words.push_back(mountPoint);
    mounted_ = Run(words);
}

BindMount::~BindMount() {
    if (mounted_) Run({"fusermount", "-u", "-z", mountPoint_});
}

}  // namespace tessaro::testing
