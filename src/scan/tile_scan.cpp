#include "scan/tile_scan.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <set>
#include <utility>

#include "os/dir_listing.h"
#include "os/file_id.h"
#include "scan/path_text.h"

namespace tessaro {

namespace {

struct Entry {
    std::string name;
    EntryKind kind;
    DirId id;  // for a directory: the one the entry (or the link it is) names
};

// The entries of one directory that matter to the walk, sorted by name as bytes. readError
// receives the errno of a listing cut short, 0 when it was read to the end.
std::vector<Entry> ListDirectory(DirStreamState& dir, const std::string& suffix, int& readError) {
    std::vector<Entry> entries;
    readError = ReadDirStream(dir, [&](std::string&& name, EntryKind kind, const DirId& id) {
        if (kind == EntryKind::regularFile && !EndsWithNoCase(name, suffix)) return;
        if (kind == EntryKind::other) return;
        entries.push_back({std::move(name), kind, id});
    });
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
}

// A directory still to walk, and the identity its entry had when its parent was listed.
struct Pending {
    std::string path;
    std::optional<DirId> expected;  // none for the root
};

}  // namespace

std::string ScannedGroup::TilePath(std::size_t i) const { return JoinPath(dir, names[i]); }

ScannedGroup ScanOneDirectory(const std::string& dir, const std::string& suffix) {
    ScannedGroup group{dir, {}, {}};
    int openError = 0;
    DirStream stream = dir.empty() ? DirStream() : OpenDirStream(dir, group.dirId, openError);
    if (!stream) return group;
    int readError = 0;
    for (Entry& entry : ListDirectory(*stream, suffix, readError))
        if (entry.kind == EntryKind::regularFile) group.names.push_back(std::move(entry.name));
    return group;
}

std::vector<ScannedGroup> ScanTileGroups(const std::string& dir, const std::string& suffix,
                                         int* rootError) {
    if (rootError) *rootError = dir.empty() ? ENOENT : 0;
    std::vector<ScannedGroup> groups;
    if (dir.empty()) return groups;
    std::set<DirId> entered;
    // Directories still to walk; the top is walked next. A directory's subdirectories are
    // pushed in reverse order, so they come off the stack in byte order, each one's whole
    // subtree before its next sibling, as a recursive walk would.
    std::vector<Pending> pending{{dir, std::nullopt}};
    while (!pending.empty()) {
        Pending next = std::move(pending.back());
        pending.pop_back();
        DirId id;
        int openError = 0;
        DirStream stream = OpenDirStream(next.path, id, openError);
        const bool isRoot = entered.empty();
        if (!stream && isRoot && rootError) *rootError = openError;
        // A directory swapped for another since its parent was listed is not walked.
        if (!stream || (next.expected && *next.expected != id) || !entered.insert(id).second)
            continue;
        int readError = 0;
        std::vector<Entry> entries = ListDirectory(*stream, suffix, readError);
        stream.reset();
        if (readError != 0 && isRoot && rootError) *rootError = readError;
        ScannedGroup group{next.path, id, {}};
        for (Entry& entry : entries)
            if (entry.kind == EntryKind::regularFile) group.names.push_back(std::move(entry.name));
        if (!group.names.empty()) groups.push_back(std::move(group));
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            if (it->kind == EntryKind::directory)
                pending.push_back({JoinPath(next.path, it->name), it->id});
    }
    return groups;
}

}  // namespace tessaro
