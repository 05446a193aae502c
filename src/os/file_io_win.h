// Writing through a Windows handle, for the Windows-only sources that hold one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os/windows_win.h"

namespace tessaro {

// WriteAllAt (file_io.h) on the handle itself.
bool WriteAllAt(HANDLE file, uint64_t offset, const void* data, std::size_t size);

}  // namespace tessaro
