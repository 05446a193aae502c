// The tile scan: collects every file below a directory whose name ends in a given suffix.
#pragma once

#include <string>
#include <vector>

#include "scan/group_list.h"

namespace tessaro {

// Finds every regular file (or link to one) below dir whose name ends in suffix under ASCII case
// folding, and returns them by directory: a group for each directory that holds any, in the
// order the walk reaches them.
//
// Paths are dir + "/" + name at each level, as text. A link, to a directory or to a file, is
// followed only when the link belongs to the user running tessaro or to the owner of what it
// names (see MayFollowLink); other links are skipped like broken ones. No directory (device and
// inode) is entered twice, so link loops end; each directory's entries are visited in byte
// order, depth first, so a directory reachable by two paths is always collected under the first
// of them. A directory that is no longer the one its parent listed when the walk reaches it, and
// proc and sysfs file systems (even as dir itself), are not walked. FIFOs, sockets, devices,
// broken links and unreadable directories are skipped silently. An empty dir collects nothing.
// The walk is iterative and goes from directory to directory through open descriptors (fts
// style), so depth costs no stack, no path is looked up from the root again, and a tree deeper
// than the system's longest path is walked whole. A few dozen descriptors at most are held.
//
// When rootError is given it receives 0 if dir itself was opened and listed to the end (or is a
// proc or sysfs file system, which holds no tiles), else the errno that stopped it (ENOENT for an
// empty dir); the rest of the walk sets it only to EMFILE, when a directory below went unwalked
// for want of a descriptor even after the walk let go of all it could.
GroupList ScanTileGroups(const std::string& dir, const std::string& suffix, int* rootError = nullptr);

// The tiles directly in dir (none below it), as a group in the walk's form; empty names when dir
// holds none or cannot be listed.
ScannedGroup ScanOneDirectory(const std::string& dir, const std::string& suffix);

}  // namespace tessaro
