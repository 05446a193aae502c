// Files opened, renamed and deleted relative to an open directory handle (the Windows openat),
// and Windows errors as errno values.
#pragma once

#include <string>

#include "os/unique_handle_win.h"
#include "os/windows_win.h"

#include <winternl.h>

namespace tessaro {

// How OpenRelative opens an entry. The options are NtCreateFile's (FILE_OPEN_REPARSE_POINT opens
// a link itself; FILE_NON_DIRECTORY_FILE, FILE_DIRECTORY_FILE); synchronous I/O is always asked.
struct RelativeOpen {
    ACCESS_MASK access = FILE_READ_ATTRIBUTES;
    ULONG disposition = FILE_OPEN;  // or FILE_CREATE
    ULONG options = 0;
    ULONG share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    ULONG attributes = 0;  // for a file created
};

// A directory opened for listing, and for opening entries relative to it.
inline const RelativeOpen kListingOpen{FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                       FILE_OPEN, FILE_DIRECTORY_FILE};

// Opens entry `name` (one name, no separator) of the directory `dir`. Empty on failure, with the
// Windows error as the last error and its errno in errno (ENOENT when there is no such entry).
UniqueHandle OpenRelative(HANDLE dir, const std::string& name, const RelativeOpen& how);

// The same for a relative path of one or more names joined by backslashes, taken as they are
// (no name is special: not "CON", not a name ending in a dot or a blank).
UniqueHandle OpenRelativePath(HANDLE dir, std::wstring path, const RelativeOpen& how);

// Opens the directory at `path` (links in it followed) for listing and for opening entries
// relative to it. Empty on failure, with errno set (ENOTDIR when it is not a directory).
UniqueHandle OpenDirectoryAt(const std::string& path);

// Gives the open file (which needs DELETE access) the name `name` in the directory `dir`,
// atomically replacing a file there when `replace`. False on failure, with errno set.
bool RenameByHandle(HANDLE file, HANDLE dir, const std::string& name, bool replace);

// Gives the open file a further name `name` in the directory `dir` (a hard link); fails when the
// name is taken. False on failure, with errno set.
bool LinkByHandle(HANDLE file, HANDLE dir, const std::string& name);

// Marks the open file (which needs DELETE access) for deletion: its name goes at once where the
// file system allows it, else when its last handle is closed. Fails for a read-only file.
bool MarkForDeletion(HANDLE file);

// The errno value that stands for a Windows error.
int ErrnoOf(DWORD error);

// Sets errno from the calling thread's last Windows error; returns false, for failing calls.
bool FailWithLastError();

}  // namespace tessaro
