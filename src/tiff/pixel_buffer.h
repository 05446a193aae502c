// A heap byte buffer that reports allocation failure as an empty buffer instead of throwing, so
// that a tile too large for memory ends as a failed read, not as an exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "os/mapped_pages.h"

namespace tessaro {

struct PixelBufferFree {
    std::size_t mapped;  // the mapping's length, or 0 for a malloc'ed block
    PixelBufferFree() noexcept : mapped(0) {}
    void operator()(uint8_t* p) const {
        if (mapped > 0)
            FreePages(p, mapped);
        else
            std::free(p);
    }
};

class PixelBuffer {
public:
    PixelBuffer() = default;
    // Empty (data() == nullptr) when the allocation fails. Large buffers (a large tile's bands)
    // are mapped with their pages in place: a fault per page on first touch would cost more than
    // putting them in up front. Smaller ones come from the heap, which in a decoding child keeps
    // freed buffers for the next tile (see TuneAllocatorForDecoding), so a small tile's buffers
    // are mostly pages the child already has.
    static PixelBuffer Allocate(std::size_t size) {
        PixelBuffer buffer;
        if (size == 0) return buffer;
        void* bytes = nullptr;
        if (size >= kMappedBytes) {
            bytes = AllocatePages(size);
        } else {
            bytes = std::malloc(size);
        }
        buffer.bytes_.reset(static_cast<uint8_t*>(bytes));
        if (buffer.bytes_) buffer.size_ = buffer.bytes_.get_deleter().mapped = size;
        if (size < kMappedBytes) buffer.bytes_.get_deleter().mapped = 0;
        return buffer;
    }
    uint8_t* data() { return bytes_.get(); }
    const uint8_t* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    explicit operator bool() const { return bytes_ != nullptr; }
    // Keeps the first `size` bytes and hands the rest back (a no-op when `size` is not smaller).
    // If the allocator cannot move the block, the block stays as it is and only the reported
    // size shrinks.
    void ShrinkTo(std::size_t size) {
        if (size >= size_) return;
        if (size == 0) {
            bytes_.reset();
            size_ = 0;
            return;
        }
        if (bytes_.get_deleter().mapped == 0) {
            if (void* smaller = std::realloc(bytes_.get(), size)) {
                static_cast<void>(bytes_.release());
                bytes_.reset(static_cast<uint8_t*>(smaller));
            }
        }
        size_ = size;
    }

private:
    static constexpr std::size_t kMappedBytes = std::size_t{1} << 20;
    std::unique_ptr<uint8_t[], PixelBufferFree> bytes_;
    std::size_t size_ = 0;
};

}  // namespace tessaro
