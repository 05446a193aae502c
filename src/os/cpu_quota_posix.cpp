#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "os/cpu_quota.h"
#include "os/unique_fd.h"

namespace tessaro {

namespace {

std::string SmallFile(const char* path) {
    const UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC));
    char text[64];
    const ssize_t got = fd ? read(fd.get(), text, sizeof text - 1) : -1;
    return got > 0 ? std::string(text, static_cast<std::size_t>(got)) : std::string();
}

}  // namespace

int CpusByQuota() {
    // cgroup v2: "QUOTA PERIOD", or "max PERIOD" for none.
    const std::string max = SmallFile("/sys/fs/cgroup/cpu.max");
    if (const std::size_t space = max.find(' '); space != std::string::npos)
        return CpusForQuota(std::string_view(max).substr(0, space), std::string_view(max).substr(space + 1));
    return CpusForQuota(SmallFile("/sys/fs/cgroup/cpu/cpu.cfs_quota_us"),
                        SmallFile("/sys/fs/cgroup/cpu/cpu.cfs_period_us"));
}

}  // namespace tessaro
