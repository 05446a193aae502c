#include "os/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tessaro {

UniqueFd OpenToRead(const std::string& path) {
    // O_NONBLOCK so that opening a FIFO returns at once; RegularFileSize turns it away.
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
}

int64_t ReadAt(int fd, void* buffer, std::size_t size, uint64_t offset) {
    ssize_t n;
    do {
        n = ::pread(fd, buffer, size, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    return n;
}

std::optional<uint64_t> RegularFileSize(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

UniqueFd DuplicateFd(int fd) { return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 0)); }

}  // namespace tessaro
