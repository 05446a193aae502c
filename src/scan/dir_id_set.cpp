#include "scan/dir_id_set.h"

#include <cstdint>
#include <utility>

namespace tessaro {

namespace {

std::size_t SlotOf(const DirId& id, std::size_t mask) {
    std::uint64_t h = id.ino * 0x9E3779B97F4A7C15ULL ^ (id.dev + 0x632BE59BD9B4E019ULL);
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 32;
    return static_cast<std::size_t>(h) & mask;
}

bool IsFree(const DirId& id) { return id == DirId{}; }

// Puts id into a table with room for it; false when it was there already.
bool Place(std::vector<DirId>& slots, const DirId& id) {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t at = SlotOf(id, mask);; at = (at + 1) & mask) {
        if (IsFree(slots[at])) {
            slots[at] = id;
            return true;
        }
        if (slots[at] == id) return false;
    }
}

}  // namespace

bool DirIdSet::Insert(const DirId& id) {
    if (IsFree(id)) return !std::exchange(holdsZero_, true);
    if (2 * (count_ + 1) > slots_.size()) {
        std::vector<DirId> grown(slots_.empty() ? 64 : 2 * slots_.size());
        for (const DirId& held : slots_)
            if (!IsFree(held)) Place(grown, held);
        slots_ = std::move(grown);
    }
    if (!Place(slots_, id)) return false;
    ++count_;
    return true;
}

}  // namespace tessaro
