#include "mosaic/group_splice.h"

#include <climits>
#include <cstdlib>
#include <memory>

#include "app/console.h"
#include "bmp/bmp_file.h"
#include "mosaic/canvas_fill.h"
#include "mosaic/tile_layout.h"
#include "mosaic/tile_removal.h"
#include "scan/path_text.h"

namespace tessaro {

namespace {

// The last non-empty component of a path, trailing slashes ignored ("" when there is none).
std::string LastComponent(std::string_view path) {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string CanonicalName(const std::string& dir) {
    struct FreeDeleter {
        void operator()(char* p) const { std::free(p); }
    };
    std::unique_ptr<char, FreeDeleter> resolved(realpath(dir.c_str(), nullptr));
    return resolved ? LastComponent(resolved.get()) : std::string();
}

bool Succeeded() {
    PrintText("拼接成功!\n");
    return true;
}

bool SaveFailed() {
    PrintText("拼接失败! 保存拼接的BMP文件失败!\n");
    return false;
}

}  // namespace

std::optional<std::string> MosaicPath(const std::string& groupDir) {
    std::string name = LastComponent(groupDir);
    if (name.empty() || name == "." || name == "..") name = CanonicalName(groupDir);
    if (name.empty()) return std::nullopt;
    return JoinPath(groupDir, name + ".bmp");
}

bool SpliceGroup(const TileGroup& group, bool deleteSources) {
    const std::optional<std::string> outputPath = MosaicPath(GetParentDir(group.front()));
    // What is left of a group whose deletion was cut short is already in its mosaic: finish the
    // deletion rather than let a smaller mosaic replace the complete one.
    if (outputPath && IsSavedGroup(group, *outputPath)) {
        if (deleteSources) DeleteTiles(group, *outputPath);
        return Succeeded();
    }
    std::optional<TileLayout> layout = PlanLayout(group);
    if (!layout) return false;
    if (!outputPath) return SaveFailed();
    std::optional<BmpFile> canvas =
        CreateBmp24(*outputPath, layout->canvasWidth, layout->canvasHeight);
    if (!canvas) return SaveFailed();
    switch (FillCanvas(group, *layout, *canvas)) {
        case FillOutcome::filled: break;
        case FillOutcome::readFailed: return false;
        case FillOutcome::writeFailed: return SaveFailed();
    }
    // With deletion ahead, the mosaic must be on stable storage before the first tile goes.
    if (!SaveBmp24(*canvas, deleteSources)) return SaveFailed();
    if (deleteSources) DeleteTiles(group, *outputPath);
    return Succeeded();
}

}  // namespace tessaro
