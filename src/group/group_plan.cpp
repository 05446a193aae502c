#include "group/group_plan.h"

#include <vector>

namespace tessaro {

std::variant<TileLayout, GroupOutcome> PlanLayout(std::size_t count, const TileMeasurer& measure) {
    if (count != 2 && count != 4 && count != 6) return GroupOutcome{GroupResult::count};
    std::vector<TileSize> sizes;
    sizes.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::optional<TileSize> size = measure(i);
        if (!size) return GroupOutcome{GroupResult::unreadable, i};
        sizes.push_back(*size);
    }
    auto verdict = CheckTileSizes(sizes);
    if (const LayoutFailure* failure = std::get_if<LayoutFailure>(&verdict)) {
        if (failure->kind == LayoutFailure::Kind::tooLarge) return GroupOutcome{GroupResult::tooLarge};
        return GroupOutcome{GroupResult::sizeMismatch, 0, *failure};
    }
    return std::get<TileLayout>(verdict);
}

}  // namespace tessaro
