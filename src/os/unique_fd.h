// An owned file descriptor, closed when it goes out of scope. Used by the walk, the reader and
// the bitmap file alike. On Windows it is a C runtime descriptor wrapping a handle; closing it
// closes the handle.
#pragma once

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <utility>

namespace tessaro {

// Closes a descriptor; 0 on success, as close() returns.
inline int CloseFd(int fd) {
#ifdef _WIN32
    return _close(fd);
#else
    return ::close(fd);
#endif
}

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes now and reports whether close() succeeded (a failed close can mean lost data).
    bool close() {
        if (fd_ < 0) return true;
        return CloseFd(std::exchange(fd_, -1)) == 0;
    }
    // Gives up ownership without closing.
    int release() { return std::exchange(fd_, -1); }
    void reset() {
        if (fd_ >= 0) CloseFd(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

}  // namespace tessaro
