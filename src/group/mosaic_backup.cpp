#include "group/mosaic_backup.h"

#include <cerrno>

#include "os/pinned_dir.h"

namespace tessaro {

namespace {

// More numbered backups than anyone keeps in one directory.
constexpr int kMaxBackups = 10000;

}  // namespace

bool HoldsDeletedTiles(int dirFd, const std::string& mosaicName, const RemovalJournal& journal) {
    const std::optional<EntryStatus> mosaic = StatEntry(dirFd, mosaicName);
    if (!mosaic || mosaic->type != EntryType::regularFile) return false;
    if (!journal.legacy && !SameContents(mosaic->id, journal.mosaic)) return false;
    for (const TileRecord& tile : journal.tiles) {
        const std::optional<EntryStatus> now = StatEntry(dirFd, tile.name);
        if (!now || !SameContents(now->id, tile.atName)) return true;
    }
    return false;
}

bool KeepNumberedBackup(int dirFd, const std::string& mosaicName) {
    for (int number = 1; number <= kMaxBackups; ++number) {
        if (LinkEntry(dirFd, mosaicName, mosaicName + ".~" + std::to_string(number) + "~"))
            return SyncDirectory(dirFd);
        if (errno != EEXIST) return false;
    }
    return false;
}

}  // namespace tessaro
