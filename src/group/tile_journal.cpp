#include "group/tile_journal.h"

#include <charconv>
#include <cstdint>

namespace tessaro {

namespace {

constexpr char kJournalHeader[] = "tessaro-journal 2";

// One record: the identity's numbers, then the name.
std::string Record(const FileId& id, const std::string& name) {
    std::string record;
    for (int64_t number : {static_cast<int64_t>(id.dev), static_cast<int64_t>(id.ino), id.size,
                           id.mtimeSec, id.mtimeNsec, id.ctimeSec, id.ctimeNsec})
        record += std::to_string(number) + " ";
    return record + name + '\0';
}

// Parses `count` numbers and a name from one record; false when it is malformed.
bool ParseRecord(std::string_view record, int count, FileId* id, std::string* name) {
    int64_t numbers[7] = {};
    const char* at = record.data();
    const char* end = at + record.size();
    for (int i = 0; i < count; ++i) {
        const auto [next, error] = std::from_chars(at, end, numbers[i]);
        if (error != std::errc() || next == end || *next != ' ') return false;
        at = next + 1;
    }
    *id = {static_cast<uint64_t>(numbers[0]), static_cast<uint64_t>(numbers[1]), numbers[2],
           numbers[3], numbers[4], numbers[5], numbers[6]};
    name->assign(at, end);
    return !name->empty() && name->find('/') == std::string::npos;
}

}  // namespace

std::string LegacyJournalName(const std::string& mosaicName) {
    return "." + mosaicName + ".tessaro-journal";
}

std::string FormatJournal(const RemovalJournal& journal) {
    std::string bytes = std::string(kJournalHeader) + '\0' + Record(journal.mosaic, "mosaic");
    for (const TileRecord& tile : journal.tiles) bytes += Record(tile.atName, tile.name);
    return bytes;
}

std::optional<RemovalJournal> ParseJournal(std::string_view bytes, bool legacy) {
    RemovalJournal journal;
    journal.legacy = legacy;
    bool first = true;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\0');
        if (end == std::string_view::npos) return std::nullopt;  // cut short
        const std::string_view record = bytes.substr(0, end);
        bytes.remove_prefix(end + 1);
        TileRecord tile;
        if (first && !legacy) {
            if (record != kJournalHeader) return std::nullopt;
        } else if (!ParseRecord(record, legacy ? 5 : 7, &tile.atName, &tile.name)) {
            return std::nullopt;
        } else {
            journal.tiles.push_back(std::move(tile));
        }
        first = false;
    }
    if (legacy) return journal.tiles.empty() ? std::nullopt : std::optional(journal);
    // The first record after the header is the mosaic.
    if (journal.tiles.size() < 2) return std::nullopt;
    journal.mosaic = journal.tiles.front().atName;
    journal.tiles.erase(journal.tiles.begin());
    return journal;
}

}  // namespace tessaro
