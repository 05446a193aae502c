// A heap byte buffer that reports allocation failure as an empty buffer instead of throwing, so
// that a tile too large for memory ends as a failed read, not as an exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace tessaro {

struct PixelBufferFree {
    void operator()(uint8_t* p) const { std::free(p); }
};

class PixelBuffer {
public:
    PixelBuffer() = default;
    // Empty (data() == nullptr) when the allocation fails.
    static PixelBuffer Allocate(std::size_t size) {
        PixelBuffer buffer;
        if (size == 0) return buffer;
        buffer.bytes_.reset(static_cast<uint8_t*>(std::malloc(size)));
        if (buffer.bytes_) buffer.size_ = size;
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
        if (void* smaller = std::realloc(bytes_.get(), size)) {
            static_cast<void>(bytes_.release());
            bytes_.reset(static_cast<uint8_t*>(smaller));
        }
        size_ = size;
    }

private:
    std::unique_ptr<uint8_t[], PixelBufferFree> bytes_;
    std::size_t size_ = 0;
};

}  // namespace tessaro
