#include "group/tile_removal.h"

#include <algorithm>
#include <cerrno>

#include "bmp/bmp_temp_name.h"
#include "group/tile_journal.h"
#include "group/tile_removal_internal.h"
#include "os/pinned_dir.h"
#include "os/small_file.h"

namespace tessaro {

namespace removal_internal {

namespace {

// Where tile number i waits between leaving its name and being deleted.
constexpr char kDeletingPrefix[] = ".tessaro-deleting-";

}  // namespace

std::string DeletingName(std::size_t index) { return kDeletingPrefix + std::to_string(index); }

bool Matches(const FileId& now, const FileId& recorded, bool decodedNow) {
    return decodedNow ? now == recorded : SameContents(now, recorded);
}

void PutBack(int dirFd, const std::string& privateName, const std::string& name,
             std::size_t index) {
    if (!name.empty() && RenameEntry(dirFd, privateName, name, false)) return;
    RenameEntry(dirFd, privateName, "tessaro-kept-" + std::to_string(index) + ".tif", false);
}

}  // namespace removal_internal

using namespace removal_internal;

namespace {

bool IsOwnFile(const EntryStatus& status) {
    return status.type == EntryType::regularFile && status.ownedByUser;
}

// Returns how many tiles it deleted.
std::size_t RemoveListed(int dirFd, const RemovalJournal& journal, const std::string& journalName,
                         bool decodedNow) {
    bool allGone = true;
    std::size_t removed = 0;
    for (std::size_t i = 0; i < journal.tiles.size(); ++i) {
        const Removal removal = RemoveExactly(dirFd, i, journal.tiles[i], decodedNow);
        removed += removal == Removal::removed ? 1 : 0;
        allGone = allGone && removal != Removal::kept;
    }
    if (allGone) RemoveEntry(dirFd, journalName);
    return removed;
}

void RemoveStaleTemporaries(int dirFd, const std::string& mosaicName,
                            const std::vector<std::string>& leftovers) {
    for (const std::string& name : leftovers) {
        if (name != kNewJournalName && !IsTempNameOf(name, mosaicName)) continue;
        if (const auto st = StatEntry(dirFd, name); st && IsOwnFile(*st) && st->linkCount == 1)
            RemoveEntry(dirFd, name);
    }
}

}  // namespace

std::optional<RemovalJournal> ReadJournal(int dirFd, const std::string& mosaicName,
                                          std::optional<uint32_t> ownNewFiles) {
    if (const auto bytes = ReadTrustedFile(dirFd, kJournalName, kMaxJournalBytes, ownNewFiles))
        return ParseJournal(*bytes, false);
    if (errno != ENOENT) return std::nullopt;
    if (const auto bytes = ReadTrustedFile(dirFd, LegacyJournalName(mosaicName), kMaxJournalBytes, ownNewFiles))
        return ParseJournal(*bytes, true);
    return std::nullopt;
}

bool IsSavedGroup(int dirFd, const std::vector<std::string>& tileNames,
                  const std::string& mosaicName, const RemovalJournal& journal) {
    const std::optional<EntryStatus> mosaic = StatEntry(dirFd, mosaicName);
    if (!mosaic || mosaic->type != EntryType::regularFile) return false;
    if (!journal.legacy && !SameContents(mosaic->id, journal.mosaic)) return false;
    for (const std::string& name : tileNames) {
        const std::optional<EntryStatus> st = StatEntry(dirFd, name);
        if (!st) return false;
        bool listed = false;
        for (const TileRecord& tile : journal.tiles)
            listed = listed || (tile.name == name && SameContents(st->id, tile.atName));
        if (!listed) return false;
    }
    return true;
}

void TidyDirectory(int dirFd, const std::string& mosaicName,
                   const std::optional<RemovalJournal>& journal, const std::vector<std::string>& leftovers) {
    const std::size_t slots = journal ? journal->tiles.size() : 6;
    for (std::size_t i = 0; i < slots; ++i) {
        const std::string privateName = DeletingName(i);
        if (std::find(leftovers.begin(), leftovers.end(), privateName) == leftovers.end()) continue;
        const std::optional<EntryStatus> st = StatEntry(dirFd, privateName);
        if (!st) continue;
        const TileRecord* tile = journal ? &journal->tiles[i] : nullptr;
        if (tile && SameContents(st->id, tile->atName))
            RemoveEntry(dirFd, privateName);
        else
            PutBack(dirFd, privateName, tile ? tile->name : std::string(), i);
    }
    RemoveStaleTemporaries(dirFd, mosaicName, leftovers);
}

std::size_t DeleteTiles(int dirFd, const std::vector<TileRecord>& tiles, const FileId& mosaic) {
    RemovalJournal journal{mosaic, tiles, false};
    // Written whole and flushed to stable storage before it takes the journal's name (replacing
    // an earlier one) in one step.
    if (!WriteFileDurably(dirFd, kJournalName, kNewJournalName, FormatJournal(journal))) return 0;
    PauseForTest("journaled");
    return RemoveListed(dirFd, journal, kJournalName, true);
}

std::size_t FinishDeletion(int dirFd, const std::string& mosaicName, const RemovalJournal& journal) {
    return RemoveListed(dirFd, journal, journal.legacy ? LegacyJournalName(mosaicName) : kJournalName,
                 false);
}

}  // namespace tessaro
