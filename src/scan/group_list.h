// The groups a walk found: one record per directory that holds tiles, kept compactly, since an
// archive's walk may find millions of them before the first is joined.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "os/file_id.h"

namespace tessaro {

// One directory's tiles, as the walk found them: the directory's path text, the identity it had
// when it was listed (what the run later acts in must be that very directory), and the names of
// its tiles.
struct ScannedGroup {
    std::string dir;
    DirId dirId;
    std::vector<std::string> names;  // in the run's order
    // How many bytes of `dir` are the text the walk started from; the rest names the directories
    // the walk went through, each exactly as its parent lists it.
    std::size_t rootBytes = 0;
    // Names in the directory that an interrupted run leaves behind (a removal journal, a tile on
    // its way out, a temporary file), as the walk saw them; empty in a directory no run was cut
    // short in, which then needs no tidying.
    std::vector<std::string> leftovers;
    // The path of tile i: the directory's text, a separator and its name (JoinPath).
    std::string TilePath(std::size_t i) const;
};

// Whether `name` may be something an interrupted run left behind (every such name is hidden and
// holds "tessaro-"); the lock file is not.
bool IsLeftoverName(std::string_view name);

// The groups, compactly: each group's directory text, then its tiles' names and its leftovers'
// names, each ended by a NUL (which no path holds), in blocks of text that are filled and never
// moved; and a fixed record per group, in a deque, which grows without copying either.
struct GroupList {
    struct Packed {
        std::uint32_t block = 0;  // which block of `text` holds the group's texts
        std::uint32_t at = 0;     // and where in it they begin
        std::uint32_t dirBytes = 0;
        std::uint32_t rootBytes = 0;
        std::uint32_t tiles = 0;
        std::uint32_t leftovers = 0;
        DirId dirId;
    };
    static constexpr std::size_t kBlockBytes = 1 << 20;
    std::vector<std::string> text;  // each reserved whole when begun
    std::deque<Packed> groups;
    std::size_t size() const { return groups.size(); }
};

void AddGroup(GroupList& list, const ScannedGroup& group);

// Group i, whole.
ScannedGroup GroupAt(const GroupList& list, std::size_t i);

// Group i's directory text, or that of a group's record.
std::string_view GroupDir(const GroupList& list, std::size_t i);
std::string_view PackedDir(const GroupList& list, const GroupList::Packed& packed);

}  // namespace tessaro
