#include "os/mapped_pages.h"

#include "os/windows_win.h"

namespace tessaro {

// Committed pages read as zeros and are brought in on first touch (Windows has no way to ask
// for them up front).
void* AllocatePages(std::size_t size) {
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreePages(void* pages, std::size_t) { VirtualFree(pages, 0, MEM_RELEASE); }

}  // namespace tessaro
