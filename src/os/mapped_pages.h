// Pages of memory straight from the system, for buffers too large for the heap to keep.
#pragma once

#include <cstddef>

namespace tessaro {

// Pages of zeros for a large buffer, present in memory before they are first touched where the
// system allows it (nullptr when they cannot be had), and their release.
void* AllocatePages(std::size_t size);
void FreePages(void* pages, std::size_t size);

}  // namespace tessaro
