// Acting inside one directory of a tree that other users may write: every step after the walk
// goes through a descriptor of the very directory the walk listed, never through path text again,
// so swapping a component of the path for a link at any moment changes nothing the run does.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "os/file_id.h"
#include "os/unique_fd.h"

namespace tessaro {

// Opens the directory at `path` for reading; empty unless it is the very directory `expected`
// names (same device and inode). The first rootBytes bytes of the path are the text the walk
// started from, opened as any path is; the names after it (each after one separator) are
// looked up one directory from the other, exactly as the walk listed them, so on Windows a
// directory named like a device (CON, NUL, COM1) or ending in a dot or a blank is reached as
// it is, and a path of any length is.
UniqueFd OpenPinnedDir(const std::string& path, std::size_t rootBytes, const DirId& expected);

// A tile opened for reading, and the identity its name had when it was opened: the file itself
// for a plain file (taken from the descriptor, so it is exactly what will be decoded), the link
// for a link. Deleting the tile later removes that name only while it still holds that identity.
struct OpenedTile {
    UniqueFd fd;
    FileId atName;
};

// Opens entry `name` of the directory as a regular file, without blocking on a FIFO. A link is
// followed only when its owner is the user running tessaro or the owner of what it names. Empty
// on any failure.
std::optional<OpenedTile> OpenTileAt(int dirFd, const std::string& name);

// The status of entry `name` of the directory itself (a link is not followed). Empty on failure,
// with errno ENOENT when there is no such entry.
std::optional<EntryStatus> StatEntry(int dirFd, const std::string& name);

// Removes entry `name` of the directory (a link, not what it names; never a directory).
bool RemoveEntry(int dirFd, const std::string& name);

// Renames entry `from` of the directory to `to` in the same directory. Without `replace` it fails
// when `to` is taken (where the file system cannot refuse to replace, as FUSE, NFS and SMB mounts
// cannot, `to` is checked free just before). On failure errno is ENOENT when `from` is gone.
bool RenameEntry(int dirFd, const std::string& from, const std::string& to, bool replace);

// Gives the file at entry `from` of the directory a second name `to` in the same directory (a
// hard link); fails when `to` is taken, with errno EEXIST.
bool LinkEntry(int dirFd, const std::string& from, const std::string& to);

// Puts the directory's entries on stable storage (where the system asks for it: on Windows the
// file system keeps its own journal of names).
bool SyncDirectory(int dirFd);

#ifdef _WIN32
enum class GuardedRemoval { removed, absent, kept };

// Removes entry `name` of the directory (a link, not what it names; never a directory) only while
// it still is a file `stillIt` accepts by its identity: the look and the removal go through one
// handle of the entry, so a file renamed into its place meanwhile is never removed. A file another
// program holds open without sharing deletion, or a read-only one, is kept. The tests' step
// "deleted" (PauseForTest) comes after the removal, while that handle is still held.
GuardedRemoval RemoveEntryIfStill(int dirFd, const std::string& name,
                                  const std::function<bool(const FileId&)>& stillIt);
#endif

// For the tests (builds with test switches only, see os/test_hooks.h): when the switch names
// `step`, the process stops itself there (SIGSTOP; on Windows all its threads are suspended), so
// a test can act at that exact point and then continue or kill it. Steps, in order: "pinned", "measured", "saved",
// "journaled", "moved", "deleted".
void PauseForTest(const char* step);

}  // namespace tessaro
