#include "tree_check.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "os/unique_fd.h"

extern char** environ;

namespace tessaro::testing {

bool SetInodeFlag(const std::string& path, int flag, bool on) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return false;
    int flags = 0;
    if (ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0) return false;
    flags = on ? (flags | flag) : (flags & ~flag);
    return ioctl(fd.get(), FS_IOC_SETFLAGS, &flags) == 0;
}

bool RemoveTree(const std::string& path) {
    std::string program = "rm";
    std::string force = "-rf";
    std::string target = path;
    char* argv[] = {program.data(), force.data(), target.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "rm", nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool CanSwitchUser() { return geteuid() == 0; }

}  // namespace tessaro::testing
