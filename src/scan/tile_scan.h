// The tile scan: collects every file below a directory whose name ends in a given suffix.
#pragma once

#include <string>
#include <vector>

namespace tessaro {

using TileList = std::vector<std::string>;

// The tiles of one directory, in byte order.
using TileGroup = std::vector<std::string>;

// Appends to list the path of every regular file (or link to one) below dir whose name ends in
// suffix under ASCII case folding, and returns the list's length afterwards.
//
// Paths are dir + "/" + name at each level, as text. Links to directories are followed, but no
// directory (device and inode) is entered twice, so link loops end; each directory's entries are
// visited in byte order, depth first, so a directory reachable by two paths is always collected
// under the first of them. FIFOs, sockets, devices, broken links and unreadable directories are
// skipped silently. An empty dir collects nothing. The walk is iterative: depth costs no stack.
//
// When rootError is given it receives 0 if dir itself was opened and listed to the end, else the
// errno that stopped it (ENOENT for an empty dir); the rest of the walk never sets it.
std::size_t FindTifFiles(const std::string& dir, const std::string& suffix, TileList& list,
                         int* rootError = nullptr);

}  // namespace tessaro
