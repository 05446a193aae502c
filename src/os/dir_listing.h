// Listing directories for the walk: a directory opened by its path, its identity, and what each
// of its entries is.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "os/file_id.h"

namespace tessaro {

enum class EntryKind { directory, regularFile, other };

// A directory open for listing; what it holds is the system's.
struct DirStreamState;
struct DirStreamDeleter {
    void operator()(DirStreamState* dir) const;
};
using DirStream = std::unique_ptr<DirStreamState, DirStreamDeleter>;

// Opens the directory at `path` (following links in the path, as any open does) for listing, and
// reports its identity. Null when it is not walked; `error` then receives the errno that stopped
// it, or 0 when there is simply nothing to walk (proc and sysfs file systems).
DirStream OpenDirStream(const std::string& path, DirId& id, int& error);

// The same for `relPath` below the directory open as `from`: one name or several joined by the
// separator (JoinPath's), each exactly as the directory lists it, looked up from that directory
// (never from the path text). On Linux ".." names the parent; Windows has no such name.
DirStream OpenDirStreamAt(const DirStreamState& from, std::string_view relPath, DirId& id, int& error);

// Hands every entry of the directory but "." and ".." to `take`, with what it is and, for a
// directory, its identity. A link (on Windows also a junction) is followed only when its owner is
// the user running tessaro or the owner of what it names; else, like a broken link, a FIFO, a
// socket or a device, it is "other". Entries come in the order the system lists them. Returns 0
// when the directory was read to the end, else the errno that cut the listing short.
using EntryTaker = std::function<void(std::string&& name, EntryKind kind, const DirId& id)>;
int ReadDirStream(DirStreamState& dir, const EntryTaker& take);

inline bool IsDotOrDotDot(std::string_view name) { return name == "." || name == ".."; }

}  // namespace tessaro
