// Owned Windows handles, and handles as the C runtime descriptors the rest of the program uses.
#pragma once

#include <io.h>

#include <cstdint>
#include <utility>

#include "os/unique_fd.h"
#include "os/windows_win.h"

namespace tessaro {

// A handle closed when it goes out of scope; INVALID_HANDLE_VALUE is kept as no handle.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    HANDLE release() { return std::exchange(handle_, nullptr); }
    void reset() {
        if (handle_ != nullptr) CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

// The handle behind a C runtime descriptor (INVALID_HANDLE_VALUE for none).
inline HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// A C runtime descriptor that owns the handle from now on (flags as for _open_osfhandle, e.g.
// _O_RDONLY). Empty, with the handle closed, when the runtime has no descriptor left.
inline UniqueFd FdOf(UniqueHandle handle, int flags) {
    if (!handle) return UniqueFd();
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), flags);
    if (fd >= 0) handle.release();
    return UniqueFd(fd);
}

}  // namespace tessaro
