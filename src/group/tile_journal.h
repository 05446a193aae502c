// The removal journal's bytes: a header record, the mosaic's identity, then each tile's identity
// and name. Each record ends with a NUL, so a name may hold anything else.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "group/tile_removal.h"

namespace tessaro {

// Where a new journal is written before it takes the journal's name, when the system cannot
// write it unnamed.
inline constexpr char kNewJournalName[] = ".tessaro-journal.new";

// No journal of ours comes near this: six names of at most 255 bytes and their numbers.
inline constexpr std::size_t kMaxJournalBytes = 64 << 10;

// The journal an earlier version wrote for the mosaic named mosaicName.
std::string LegacyJournalName(const std::string& mosaicName);

std::string FormatJournal(const RemovalJournal& journal);

// The journal the bytes hold; empty when they are cut short or malformed.
std::optional<RemovalJournal> ParseJournal(std::string_view bytes, bool legacy);

}  // namespace tessaro
