#include "app/batch_driver.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "app/console.h"
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

BatchOutcome SpliceTree(const std::string& rootDir, bool deleteSources, const GroupSplicer& splice) {
    TileList list;
    int rootError = 0;
    FindTifFiles(rootDir, ".tif", list, &rootError);
    if (rootError != 0) {
        PrintError(rootDir, std::strerror(rootError));
        return BatchOutcome::rootUnreadable;
    }
    std::sort(list.begin(), list.end(), ComparePaths);
    const int groupTotal = CountDirGroups(list);
    int groupIndex = 0;
    bool allSaved = true;
    TileGroup group;
    group.reserve(4);
    for (std::size_t i = 0; i < list.size(); ++i) {
        group.push_back(std::move(list[i]));
        bool lastOfDir = i + 1 == list.size() || ParentView(list[i + 1]) != ParentView(group.back());
        if (!lastOfDir) continue;
        PrintProgress(++groupIndex, groupTotal, GetParentDir(group.front()));
        if (!splice(group, deleteSources)) allSaved = false;
        group.clear();
    }
    return allSaved ? BatchOutcome::allSaved : BatchOutcome::someFailed;
}

}  // namespace tessaro
