#include "group/group_job.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <optional>

#include "bmp/bmp_file.h"
#include "decode/canvas_fill.h"
#include "group/group_plan.h"
#include "group/mosaic_backup.h"
#include "group/mosaic_path.h"
#include "group/tile_removal.h"
#include "os/dir_lock.h"
#include "os/interrupt.h"
#include "os/pinned_dir.h"
#include "os/test_hooks.h"
#include "sandbox/client.h"

namespace tessaro {

namespace {

// How long a group waits for its directory while another run works in it.
std::chrono::milliseconds LockWait() {
    constexpr std::chrono::seconds kLockWait{30};
    const std::string_view setting = TestSetting(TestSwitch::lockWaitMillis);
    int64_t millis = 0;
    if (std::from_chars(setting.data(), setting.data() + setting.size(), millis).ec == std::errc())
        return std::chrono::milliseconds(millis);
    return kLockWait;
}

}  // namespace

GroupOutcome SpliceGroup(const ScannedGroup& group, const GroupTask& task, FillMeter* meter) {
    const bool deleteSources = task.deleteSources && !task.dryRun;
    constexpr GroupOutcome kSaved{GroupResult::saved};
    // Out of descriptors, the group is left untouched, to be tried again.
    const auto noDescriptor = [](GroupOutcome outcome) {
        outcome.outOfDescriptors = true;
        return outcome;
    };
    const std::vector<std::string>& names = group.names;
    const bool countFits = names.size() == 2 || names.size() == 4 || names.size() == 6;
    // Where no run was cut short (the walk saw nothing one leaves), a group of the wrong count is
    // told so without a look inside its directory.
    if (!countFits && group.leftovers.empty()) return {GroupResult::count};
    // Everything from here on happens in the very directory the walk listed; if its path no
    // longer leads there, its tiles cannot be read where they were found.
    errno = 0;
    const UniqueFd dir = OpenPinnedDir(group.dir, group.rootBytes, group.dirId);
    if (!dir) {
        const GroupOutcome unreadable{GroupResult::unreadable, 0};
        return OutOfDescriptors() ? noDescriptor(unreadable) : unreadable;
    }
    PauseForTest("pinned");
    // One run at a time in a directory, from its first read to its last deletion (a dry run
    // writes nothing, not even the lock).
    std::optional<DirLock> lock;
    if (!task.dryRun) {
        lock.emplace(dir.get(), LockWait());
        if (lock->state() == LockState::interrupted) return {GroupResult::abandoned};
        // Held by another run past the wait (or a lock file this run may not open): the group
        // is left as it is, for a later run.
        if (lock->state() == LockState::busy) return {GroupResult::saveFailed};
        if (lock->state() == LockState::noDescriptor) return noDescriptor({GroupResult::saveFailed});
    }
    const std::optional<std::string> mosaicName = MosaicName(group.dir);

    std::optional<RemovalJournal> journal;
    if (mosaicName && !group.leftovers.empty()) {
        journal = ReadJournal(dir.get(), *mosaicName, lock ? lock->NewFileOwner() : std::nullopt);
        if (!task.dryRun) TidyDirectory(dir.get(), *mosaicName, journal, group.leftovers);
    }
    // What is left of a group whose deletion was cut short is already in its mosaic: finish the
    // deletion rather than let a smaller mosaic replace the complete one.
    if (journal && IsSavedGroup(dir.get(), names, *mosaicName, *journal)) {
        if (task.dryRun) return {GroupResult::checked};
        GroupOutcome saved = kSaved;
        if (deleteSources) saved.deleted = FinishDeletion(dir.get(), *mosaicName, *journal);
        return saved;
    }

    // The mosaic in place may be the only copy of tiles an earlier run deleted (tiles arrived
    // beside its leftovers): it is kept, not replaced.
    const bool keepEarlier = journal && HoldsDeletedTiles(dir.get(), *mosaicName, *journal);
    // Counted before any tile is opened: a directory of too many takes no descriptors.
    if (!countFits) return {GroupResult::count};
    std::vector<UniqueFd> tiles;
    std::vector<TileRecord> records;
    for (const std::string& name : names) {
        errno = 0;
        std::optional<OpenedTile> opened = OpenTileAt(dir.get(), name);
        if (!opened && OutOfDescriptors()) return noDescriptor({GroupResult::unreadable, tiles.size()});
        records.push_back({name, opened ? opened->atName : FileId{}});
        tiles.push_back(opened ? std::move(opened->fd) : UniqueFd());
    }
    // Every byte of the tiles is parsed in a confined child process, never here.
    errno = 0;
    std::optional<DecoderChild> decoder = DecoderChild::Start(tiles, kMeasuringLimits);
    if (!decoder && OutOfDescriptors()) return noDescriptor({GroupResult::unreadable, 0});
    const auto plan = PlanLayout(names.size(), [&](std::size_t i) {
        return decoder && tiles[i] ? decoder->Measure(i) : std::nullopt;
    });
    if (const GroupOutcome* failed = std::get_if<GroupOutcome>(&plan)) return *failed;
    const TileLayout& layout = std::get<TileLayout>(plan);
    PauseForTest("measured");
    constexpr GroupOutcome kSaveFailed{GroupResult::saveFailed};
    if (!mosaicName) return kSaveFailed;
    if (task.dryRun) return {GroupResult::checked};
    errno = 0;
    std::optional<BmpFile> canvas =
        CreateBmp24At(dir.get(), *mosaicName, layout.canvasWidth, layout.canvasHeight);
    if (!canvas) return OutOfDescriptors() ? noDescriptor(kSaveFailed) : kSaveFailed;
    switch (decoder->Fill(layout, *canvas, LimitsForPixels(PixelCount(layout)), meter)) {
        case FillOutcome::filled: break;
        case FillOutcome::readFailed: return {GroupResult::readFailed};
        case FillOutcome::writeFailed: return kSaveFailed;
    }
    decoder.reset();
    if (keepEarlier && !KeepNumberedBackup(dir.get(), *mosaicName)) return kSaveFailed;
    // With deletion ahead, the mosaic must be on stable storage before the first tile goes.
    if (!SaveBmp24(*canvas, deleteSources)) {
        // In place but not known to be durable (its directory could not be flushed): the
        // mosaic is saved, yet its tiles must stay.
        return canvas->saved ? kSaved : kSaveFailed;
    }
    PauseForTest("saved");
    GroupOutcome saved = kSaved;
    if (deleteSources) saved.deleted = DeleteTiles(dir.get(), records, canvas->id);
    return saved;
}

}  // namespace tessaro
