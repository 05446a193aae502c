// A new file made inside an open directory and put in place there in one atomic step, so that
// until then whatever the name held stays whole, and a file dropped on the way leaves nothing.
//
// Until it is put in place the file is unnamed where the system can make unnamed files (an
// O_TMPFILE file on Linux, which the kernel drops if the process dies), else it has a temporary
// name from the caller, claimed exclusively (on Windows the file is hidden under it until it is
// put in place). Either kind is created with the mode any new file gets: 0666 less the umask, or
// as the directory's default ACL has it, without the process ever touching its umask.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "os/file_id.h"
#include "os/unique_fd.h"

namespace tessaro {

// Gives a fresh temporary name, without a separator. Every name is claimed exclusively, so a
// name already taken only means asking for another one.
using TempNameMaker = std::function<std::string()>;

// How the file is made and put in place. The program always uses the defaults (the best the
// system offers, falling back by itself); the others reach the fallbacks for the tests. Linux only.
struct NewFileMethods {
    // Try an unnamed file first; otherwise go straight to a temporary name.
    bool unnamedTemp = true;
    // Link an unnamed file with linkat(AT_EMPTY_PATH) before trying /proc/self/fd/N.
    bool linkByEmptyPath = true;
};

struct NewFile {
    UniqueFd fd;           // open for reading and writing
    std::string tempName;  // its temporary name in the directory; empty while it has none
};

// Makes the new file in the directory dirFd (which stays the caller's), `length` bytes long with
// that space reserved now, so a full disk, a quota or a file-size limit shows before any work is
// done; the bytes read as zeros. Empty on any failure, and then nothing is left behind.
std::optional<NewFile> CreateNewFileAt(int dirFd, uint64_t length, const TempNameMaker& makeName,
                                       const NewFileMethods& methods = {});

enum class Placement {
    failed,           // nothing changed: `name` is untouched and the new file is gone
    placed,           // the new file is `name` now
    placedNotDurable  // in place, but the directory's flush failed: the name may not outlive a crash
};

// Puts the new file, written by now, in place as entry `name` of the directory dirFd (where it
// was made), atomically replacing a file there. With `durable`, the file and then its directory
// are flushed to stable storage first. On the way `id` receives the file's identity as it will be
// in place. The file is closed either way; on Linux that happens before the switch, and a close
// that fails (which can mean written data was lost, e.g. on NFS) fails the whole step.
Placement PutNewFileInPlace(int dirFd, NewFile file, const std::string& name, bool durable,
                            const TempNameMaker& makeName, FileId& id,
                            const NewFileMethods& methods = {});

// Drops the new file: its temporary name, if it has one, goes, and the file is closed.
void DiscardNewFile(int dirFd, NewFile file);

}  // namespace tessaro
