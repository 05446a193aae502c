#include <sys/mman.h>

#include "os/mapped_pages.h"

namespace tessaro {

void* AllocatePages(std::size_t size) {
    void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return pages == MAP_FAILED ? nullptr : pages;
}

void FreePages(void* pages, std::size_t size) { munmap(pages, size); }

}  // namespace tessaro
