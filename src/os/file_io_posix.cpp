#include "os/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace tessaro {

UniqueFd OpenToRead(const std::string& path) {
    // O_NONBLOCK so that opening a FIFO returns at once; RegularFileSize turns it away.
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
}

UniqueFd OpenToWrite(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

bool WriteAllHere(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
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
#ifdef SYS_fstat
    // The status of the descriptor itself: this C library's fstat asks by an (empty) path, which
    // the decoding child may not name.
    if (syscall(SYS_fstat, fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
#else
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
#endif
    return static_cast<uint64_t>(st.st_size);
}

static_assert(sizeof(off_t) >= 8, "files of up to 4 GiB need 64-bit file offsets");

bool WriteAllAt(int fd, uint64_t offset, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, bytes, size, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (written == 0) return false;  // no progress: treat as a failed write, never spin
        bytes += written;
        offset += static_cast<uint64_t>(written);
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool WriteAllAt(int fd, uint64_t offset, std::span<const FilePiece> pieces) {
    if (pieces.size() > kMaxFilePieces) return false;
    std::array<iovec, kMaxFilePieces> gathered;
    std::size_t count = 0;
    for (const FilePiece& piece : pieces)
        if (piece.size > 0) gathered[count++] = {const_cast<void*>(piece.data), piece.size};
    for (std::span<iovec> rest(gathered.data(), count); !rest.empty();) {
        const ssize_t written =
            ::pwritev(fd, rest.data(), static_cast<int>(rest.size()), static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;  // no progress: treat as a failed write, never spin
        offset += static_cast<uint64_t>(written);
        // Drops what was written: whole pieces, then the front of the next one.
        for (std::size_t done = static_cast<std::size_t>(written); done > 0 && !rest.empty();) {
            const std::size_t take = std::min(done, rest.front().iov_len);
            rest.front().iov_base = static_cast<uint8_t*>(rest.front().iov_base) + take;
            rest.front().iov_len -= take;
            done -= take;
            if (rest.front().iov_len == 0) rest = rest.subspan(1);
        }
    }
    return true;
}

UniqueFd DuplicateFd(int fd) { return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 0)); }

}  // namespace tessaro
