// A file's status by its path, where only an estimate is wanted (the status line's): its size,
// and whether it is gone.
#pragma once

#include <cstdint>
#include <string>

namespace tessaro {

// The size of the file at path (a link followed), 0 when it cannot be read.
uint64_t FileSizeOf(const std::string& path);

// True when nothing is at path any more, not even a link.
bool IsGone(const std::string& path);

}  // namespace tessaro
