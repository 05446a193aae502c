// A group's plan: its tiles counted, measured and checked into a mosaic's layout.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <variant>

#include "group/group_outcome.h"
#include "mosaic/tile_layout.h"

namespace tessaro {

// Measures tile i of the group; empty when it cannot be read.
using TileMeasurer = std::function<std::optional<TileSize>(std::size_t)>;

// Counts the group's `count` tiles (a count other than 2, 4 or 6 measures nothing), measures them
// in group order up to the first that cannot be read, and checks the sizes. Returns the layout,
// or the outcome that explains why there is none.
std::variant<TileLayout, GroupOutcome> PlanLayout(std::size_t count, const TileMeasurer& measure);

}  // namespace tessaro
