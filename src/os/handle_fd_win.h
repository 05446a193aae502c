// Handles as the C runtime descriptors the rest of the program passes around.
#pragma once

#include <fcntl.h>
#include <io.h>

#include <cstdint>

#include "os/unique_fd.h"
#include "os/unique_handle_win.h"

namespace tessaro {

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
