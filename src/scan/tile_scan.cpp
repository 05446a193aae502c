#include "scan/tile_scan.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "os/dir_listing.h"
#include "scan/dir_id_set.h"
#include "scan/path_order.h"
#include "scan/path_text.h"

namespace tessaro {

namespace {

// The descriptors the walk holds at most for the directories it is in; those nearer the root are
// closed and opened again (through "..", or by their names from the nearest one still open) when
// the walk climbs back to them.
constexpr std::size_t kOpenLevels = 24;

// A directory still to walk: its name in its parent, where `pendingNames` holds it, which level
// of the walk's way down its parent is, and the identity its entry had when its parent was listed.
struct PendingDir {
    std::size_t nameAt = 0;
    std::uint32_t nameBytes = 0;
    std::uint32_t parentLevel = 0;
    DirId id;
};

// One directory on the way from the root to where the walk is.
struct Level {
    DirStream stream;  // null while closed to spare descriptors, or when it could not be reopened
    DirId id;
    std::size_t pathBytes = 0;  // the length of its path text
    bool lost = false;          // it could not be opened again: what is left below it is skipped
};

struct Walk {
    std::string suffix;
    std::string path;  // the path text of the deepest level
    std::vector<Level> levels;
    std::size_t firstOpen = 1;  // no level between the root and this one is open
    std::size_t openLevels = kOpenLevels;  // how many may be open at once
    std::vector<PendingDir> pending;
    std::string pendingNames;  // the pending directories' names, the next one's last
    DirIdSet entered;
    GroupList groups;
    bool shortOfDescriptors = false;  // a directory went unwalked for want of a descriptor
};

// Puts a directory's entry that is not a directory where the group wants it: a tile among its
// names, a name an interrupted run leaves among its leftovers; anything else is passed over.
void TakeFile(ScannedGroup& group, std::string&& name, EntryKind kind, const std::string& suffix) {
    if (kind == EntryKind::regularFile && EndsWithNoCase(name, suffix))
        group.names.push_back(std::move(name));
    else if (IsLeftoverName(name))
        group.leftovers.push_back(std::move(name));
}

// Lists the deepest level: its tiles become a group, its subdirectories go on the pending stack
// to come off it in byte order. Returns 0, or the errno that cut the listing short.
int ListLevel(Walk& walk) {
    Level& level = walk.levels.back();
    ScannedGroup group{walk.path, level.id, {}, walk.levels.front().pathBytes, {}};
    const std::size_t firstPending = walk.pending.size();
    const std::size_t namesAt = walk.pendingNames.size();
    const auto parentLevel = static_cast<std::uint32_t>(walk.levels.size() - 1);
    const int error = ReadDirStream(*level.stream, [&](std::string&& name, EntryKind kind, const DirId& id) {
        if (kind == EntryKind::directory) {
            walk.pending.push_back({walk.pendingNames.size(), static_cast<std::uint32_t>(name.size()),
                                    parentLevel, id});
            walk.pendingNames += name;
        } else {
            TakeFile(group, std::move(name), kind, walk.suffix);
        }
    });
    if (!group.names.empty()) {
        SortTileNames(group.names);
        AddGroup(walk.groups, group);
    }
    // Last in byte order first, then their names laid out in that order, so the one taken next
    // always has its name at the end.
    const auto nameOf = [&](const PendingDir& dir) {
        return std::string_view(walk.pendingNames).substr(dir.nameAt, dir.nameBytes);
    };
    const auto begin = walk.pending.begin() + static_cast<std::ptrdiff_t>(firstPending);
    std::sort(begin, walk.pending.end(),
              [&](const PendingDir& a, const PendingDir& b) { return nameOf(a) > nameOf(b); });
    std::string laidOut;
    laidOut.reserve(walk.pendingNames.size() - namesAt);
    for (auto it = begin; it != walk.pending.end(); ++it) {
        const std::string_view name = nameOf(*it);
        it->nameAt = namesAt + laidOut.size();
        laidOut += name;
    }
    walk.pendingNames.replace(namesAt, std::string::npos, laidOut);
    return error;
}

bool OutOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

bool IsOpen(const Level& level) { return static_cast<bool>(level.stream); }

// Opens level `at` again: through ".." of the level below it where that leads back to it, else by
// the names from the nearest open level above it (or, with none open, by its path text); and
// checks it is still the directory it was.
void Reopen(Walk& walk, std::size_t at, DirStream* below) {
    Level& level = walk.levels[at];
    DirId id;
    int error = 0;
    if (below && *below) level.stream = OpenDirStreamAt(**below, "..", id, error);
    if (below) below->reset();
    if (!level.stream || id != level.id) {
        std::size_t from = at;
        while (from > 0 && !IsOpen(walk.levels[from - 1])) --from;
        if (from == 0) {
            level.stream = OpenDirStream(walk.path.substr(0, level.pathBytes), id, error);
        } else {
            const std::size_t start = walk.levels[from - 1].pathBytes + 1;
            const std::string_view names = std::string_view(walk.path).substr(start, level.pathBytes - start);
            level.stream = OpenDirStreamAt(*walk.levels[from - 1].stream, names, id, error);
        }
    }
    if (!level.stream || id != level.id) {
        level.stream.reset();
        level.lost = true;
        walk.shortOfDescriptors = walk.shortOfDescriptors || OutOfDescriptors(error);
    }
    walk.firstOpen = std::min(walk.firstOpen, at);
}

// Closes the open levels nearest the root until at most `keep` are open below the root. The root
// stays open unless none may be: every level can be reopened by its names from it (on Windows
// path text could not name them all).
void CloseLevels(Walk& walk, std::size_t keep) {
    if (keep == 0) walk.levels.front().stream.reset();
    walk.firstOpen = std::max<std::size_t>(walk.firstOpen, 1);
    std::size_t open = 0;
    for (std::size_t at = walk.firstOpen; at < walk.levels.size(); ++at) open += IsOpen(walk.levels[at]) ? 1 : 0;
    for (; open > keep && walk.firstOpen < walk.levels.size(); ++walk.firstOpen)
        if (IsOpen(walk.levels[walk.firstOpen])) {
            walk.levels[walk.firstOpen].stream.reset();
            --open;
        }
}

// Climbs back to level `to`, opening it again if its descriptor was closed on the way down.
void ClimbTo(Walk& walk, std::size_t to) {
    while (walk.levels.size() > to + 1) {
        DirStream below = std::move(walk.levels.back().stream);
        walk.levels.pop_back();
        walk.path.resize(walk.levels.back().pathBytes);
        Level& back = walk.levels.back();
        if (!IsOpen(back) && !back.lost) Reopen(walk, walk.levels.size() - 1, &below);
    }
}

// Enters the next pending directory, when it still is the one its parent listed.
bool Descend(Walk& walk) {
    const PendingDir next = walk.pending.back();
    walk.pending.pop_back();
    const std::string name = walk.pendingNames.substr(next.nameAt, next.nameBytes);
    walk.pendingNames.resize(next.nameAt);
    ClimbTo(walk, next.parentLevel);
    Level& parent = walk.levels.back();
    if (!IsOpen(parent) && !parent.lost) Reopen(walk, walk.levels.size() - 1, nullptr);
    if (!IsOpen(parent)) return false;
    DirId id;
    int error = 0;
    DirStream stream = OpenDirStreamAt(*parent.stream, name, id, error);
    if (!stream && OutOfDescriptors(error)) {
        // Short of descriptors: from here on the walk holds as few as it can, down to none but
        // the directory it lists.
        walk.openLevels = 1;
        CloseLevels(walk, 1);
        stream = OpenDirStreamAt(*parent.stream, name, id, error);
        if (!stream && OutOfDescriptors(error)) {
            CloseLevels(walk, 0);
            stream = OpenDirStream(JoinPath(walk.path, name), id, error);
        }
        walk.shortOfDescriptors = walk.shortOfDescriptors || (!stream && OutOfDescriptors(error));
    }
    if (!stream || id != next.id || !walk.entered.Insert(id)) return false;
    walk.path = JoinPath(walk.path, name);
    walk.levels.push_back({std::move(stream), id, walk.path.size(), false});
    CloseLevels(walk, walk.openLevels);
    return true;
}

}  // namespace

ScannedGroup ScanOneDirectory(const std::string& dir, const std::string& suffix) {
    ScannedGroup group{dir, {}, {}, dir.size(), {}};
    int openError = 0;
    DirStream stream = dir.empty() ? DirStream() : OpenDirStream(dir, group.dirId, openError);
    if (!stream) return group;
    ReadDirStream(*stream, [&](std::string&& name, EntryKind kind, const DirId&) {
        if (kind != EntryKind::directory) TakeFile(group, std::move(name), kind, suffix);
    });
    SortTileNames(group.names);
    return group;
}

GroupList ScanTileGroups(const std::string& dir, const std::string& suffix, int* rootError) {
    if (rootError) *rootError = dir.empty() ? ENOENT : 0;
    Walk walk;
    walk.suffix = suffix;
    if (dir.empty()) return std::move(walk.groups);
    DirId id;
    int error = 0;
    DirStream root = OpenDirStream(dir, id, error);
    if (!root) {
        if (rootError) *rootError = error;
        return std::move(walk.groups);
    }
    walk.entered.Insert(id);
    walk.path = dir;
    walk.levels.push_back({std::move(root), id, dir.size(), false});
    error = ListLevel(walk);
    if (rootError) *rootError = error;
    while (!walk.pending.empty())
        if (Descend(walk)) ListLevel(walk);
    // Not a tree that cannot be walked, yet not walked whole: the run must not pass for complete.
    if (rootError && *rootError == 0 && walk.shortOfDescriptors) *rootError = EMFILE;
    return std::move(walk.groups);
}

}  // namespace tessaro
