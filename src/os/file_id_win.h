// File status and ownership as Windows reports them for an open handle.
#pragma once

#include <optional>
#include <string>

#include "os/file_id.h"
#include "os/windows_win.h"

namespace tessaro {

// What the program needs to know of an open file.
struct HandleInfo {
    FileId id;                // volume serial, file index, size, last write and change times
    DWORD attributes = 0;     // FILE_ATTRIBUTE_*
    DWORD reparseTag = 0;     // for a reparse point
    uint64_t linkCount = 0;
};

// The status of the file open as `handle` (which needs FILE_READ_ATTRIBUTES). Empty on failure.
std::optional<HandleInfo> InfoOfHandle(HANDLE handle);

// True for a symbolic link or a junction (a name-surrogate reparse point), not for reparse points
// that only change how a file's own data is stored.
bool IsLink(const HandleInfo& info);

EntryType TypeOf(const HandleInfo& info);

inline DirId DirIdOf(const HandleInfo& info) { return {info.id.dev, info.id.ino}; }

// Whether the owner of the file open as `handle` (which needs READ_CONTROL) is the user running
// tessaro: the token's user, or its default owner for new files (Administrators, for one). A file
// Windows reports no owner for is nobody's.
bool OwnedByRunningUser(HANDLE handle);

// Whether the link now named `name` in the directory may be followed to the file open as
// `target` (which needs READ_CONTROL): only when its owner is the user running tessaro or the
// owner of the target. The link is looked at after the target was opened, as on Linux, so
// whoever swaps links under the name can only swap in links of their own. On success *linkId
// receives the link's own identity.
bool MayFollowLinkAt(HANDLE dir, const std::string& name, HANDLE target, FileId* linkId);

}  // namespace tessaro
