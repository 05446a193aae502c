// The directories a walk has entered, as a flat table of identities (open addressing, at most
// half full): 16 to 32 bytes per directory, where a tree of nodes would take about 70.
#pragma once

#include <cstddef>
#include <vector>

#include "os/file_id.h"

namespace tessaro {

class DirIdSet {
public:
    // True when id was not in the set (it is now).
    bool Insert(const DirId& id);

private:
    // An all-zero identity marks a free slot; a directory that really is device 0, inode 0 is
    // told apart by holdsZero_.
    std::vector<DirId> slots_;
    std::size_t count_ = 0;
    bool holdsZero_ = false;
};

}  // namespace tessaro
