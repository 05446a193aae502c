// A file's size by its path, where only an estimate is wanted (the status line's).
#pragma once

#include <cstdint>
#include <string>

namespace tessaro {

// The size of the file at path (a link followed), 0 when it cannot be read.
uint64_t FileSizeOf(const std::string& path);

}  // namespace tessaro
