#include "app/batch_driver.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <numeric>
#include <optional>
#include <string_view>

#include "app/console.h"
#include "app/status_line.h"
#include "scan/path_text.h"

namespace tessaro {

namespace {

std::string_view ParentView(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

void PrintProgress(int groupIndex, int groupTotal, const std::string& dir) {
    PrintWithPath(" ++ " + std::to_string(groupIndex) + "/" + std::to_string(groupTotal) +
                      " ++   path: ",
                  dir, "\n");
}

uint64_t FileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

int CountGone(const TileGroup& group) {
    struct stat st;
    return static_cast<int>(std::count_if(group.begin(), group.end(), [&](const std::string& tile) {
        return lstat(tile.c_str(), &st) != 0 && errno == ENOENT;
    }));
}

}  // namespace

bool ComparePaths(const std::string& a, const std::string& b) {
    std::string_view dirA = ParentView(a);
    std::string_view dirB = ParentView(b);
    if (int byDir = dirA.compare(dirB); byDir != 0) return byDir < 0;
    return a < b;
}

int CountDirGroups(const TileList& list) {
    int groups = 0;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (i == 0 || ParentView(list[i]) != ParentView(list[i - 1])) ++groups;
    return groups;
}

BatchOutcome SpliceTree(const std::string& rootDir, bool deleteSources, bool showProgress,
                        const GroupSplicer& splice) {
    TileList list;
    int rootError = 0;
    FindTifFiles(rootDir, ".tif", list, &rootError);
    if (rootError != 0) {
        PrintError(rootDir, std::strerror(rootError));
        return BatchOutcome::rootUnreadable;
    }
    std::sort(list.begin(), list.end(), ComparePaths);
    const int groupTotal = CountDirGroups(list);
    // Only a terminal pays for the tiles' sizes and the clock.
    std::vector<uint64_t> tileBytes;
    std::optional<StatusLine> progress;
    if (showProgress) {
        std::transform(list.begin(), list.end(), std::back_inserter(tileBytes), FileSize);
        progress.emplace(groupTotal, std::accumulate(tileBytes.begin(), tileBytes.end(), uint64_t{0}));
    }
    const FillMeterScope meterScope(progress ? &*progress : nullptr);
    int groupIndex = 0;
    RunTally tally;
    uint64_t groupBytes = 0;
    TileGroup group;
    group.reserve(4);
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (progress) groupBytes += tileBytes[i];
        group.push_back(std::move(list[i]));
        bool lastOfDir = i + 1 == list.size() || ParentView(list[i + 1]) != ParentView(group.back());
        if (!lastOfDir) continue;
        PrintProgress(++groupIndex, groupTotal, GetParentDir(group.front()));
        if (progress) progress->StartGroup(groupBytes);
        const bool saved = splice(group, deleteSources);
        ++(saved ? tally.saved : tally.failed);
        if (progress) {
            progress->FinishGroup();
            if (saved && deleteSources) tally.tilesDeleted += CountGone(group);
        }
        groupBytes = 0;
        group.clear();
    }
    if (progress) PrintErrorText(SummaryText(tally, progress->Seconds()));
    return tally.failed == 0 ? BatchOutcome::allSaved : BatchOutcome::someFailed;
}

}  // namespace tessaro
