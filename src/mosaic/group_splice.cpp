#include "mosaic/group_splice.h"

#include "app/console.h"
#include "bmp/bmp_file.h"
#include "decoder/decoder_child.h"
#include "mosaic/canvas_fill.h"
#include "mosaic/tile_layout.h"
#include "mosaic/tile_removal.h"
#include "os/pinned_dir.h"
#include "scan/path_text.h"

namespace tessaro {

namespace {

bool Succeeded() {
    PrintText("拼接成功!\n");
    return true;
}

bool Unreadable(const std::string& tile) {
    PrintWithPath("拼接失败! 无法读取tif文件: ", tile, "\n");
    return false;
}

bool ReadFailed() {
    PrintText("拼接失败! 读取tif文件时,内存申请失败!\n");
    return false;
}

bool SaveFailed() {
    PrintText("拼接失败! 保存拼接的BMP文件失败!\n");
    return false;
}

}  // namespace

bool SpliceGroup(const TileGroup& group, const DirId& dirId, bool deleteSources) {
    const std::string groupDir = GetParentDir(group.front());
    // Everything from here on happens in the very directory the walk listed; if its path no
    // longer leads there, its tiles cannot be read where they were found.
    // Tiles directly below the file system's root have "" as their directory's text.
    const std::string dirPath = groupDir.empty() ? std::string(1, PathSeparator()) : groupDir;
    const UniqueFd dir = OpenPinnedDir(dirPath, dirId);
    if (!dir) return Unreadable(group.front());
    PauseForTest("pinned");
    // One run at a time in a directory, from its first read to its last deletion.
    const DirLock lock(dir.get());
    if (!lock.held()) return false;  // interrupted while another run held it
    const std::optional<std::string> outputPath = MosaicPath(groupDir);
    const std::string mosaicName = outputPath ? GetLastPart(*outputPath).substr(1) : std::string();
    std::vector<std::string> names;
    for (const std::string& tile : group) names.push_back(GetLastPart(tile).substr(1));

    std::optional<RemovalJournal> journal;
    if (outputPath) {
        journal = ReadJournal(dir.get(), mosaicName);
        TidyDirectory(dir.get(), mosaicName, journal);
    }
    // What is left of a group whose deletion was cut short is already in its mosaic: finish the
    // deletion rather than let a smaller mosaic replace the complete one.
    if (journal && IsSavedGroup(dir.get(), names, mosaicName, *journal)) {
        if (deleteSources) FinishDeletion(dir.get(), mosaicName, *journal);
        return Succeeded();
    }

    std::vector<UniqueFd> tiles;
    std::vector<TileRecord> records;
    for (const std::string& name : names) {
        std::optional<OpenedTile> opened = OpenTileAt(dir.get(), name);
        records.push_back({name, opened ? opened->atName : FileId{}});
        tiles.push_back(opened ? std::move(opened->fd) : UniqueFd());
    }
    // Every byte of the tiles is parsed in a confined child process, never here.
    const bool joinable = group.size() == 2 || group.size() == 4 || group.size() == 6;
    std::optional<DecoderChild> decoder =
        joinable ? DecoderChild::Start(tiles, kMeasuringLimits) : std::nullopt;
    std::optional<TileLayout> layout = PlanLayout(group, [&](std::size_t i) {
        return decoder && tiles[i] ? decoder->Measure(i) : std::nullopt;
    });
    if (!layout) return false;
    PauseForTest("measured");
    if (!outputPath) return SaveFailed();
    std::optional<BmpFile> canvas =
        CreateBmp24At(dir.get(), mosaicName, layout->canvasWidth, layout->canvasHeight);
    if (!canvas) return SaveFailed();
    switch (decoder->Fill(*layout, *canvas, LimitsForPixels(PixelCount(*layout)))) {
        case FillOutcome::filled: break;
        case FillOutcome::readFailed: return ReadFailed();
        case FillOutcome::writeFailed: return SaveFailed();
    }
    decoder.reset();
    // With deletion ahead, the mosaic must be on stable storage before the first tile goes.
    if (!SaveBmp24(*canvas, deleteSources)) {
        // In place but not known to be durable (its directory could not be flushed): the
        // mosaic is saved, yet its tiles must stay.
        return canvas->saved ? Succeeded() : SaveFailed();
    }
    PauseForTest("saved");
    if (deleteSources) DeleteTiles(dir.get(), records, canvas->id);
    return Succeeded();
}

}  // namespace tessaro
