// What tells one file from another, and what a directory entry is.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>

namespace tessaro {

// A file's identity and the state of its contents: the same device and inode, and the same size
// and modification time, mean the same file with the same bytes (as far as any writer that does
// not forge times can tell). The change time also moves on chmod, chown, link and rename.
// On Windows the device is the volume serial number, the inode the file index, and the change
// time that of the file's basic information.
struct FileId {
    uint64_t dev = 0;
    uint64_t ino = 0;
    int64_t size = 0;
    int64_t mtimeSec = 0;
    int64_t mtimeNsec = 0;
    int64_t ctimeSec = 0;
    int64_t ctimeNsec = 0;
    friend bool operator==(const FileId&, const FileId&) = default;
};

// A directory's identity, as the walk saw it.
struct DirId {
    uint64_t dev = 0;
    uint64_t ino = 0;
    friend bool operator==(const DirId&, const DirId&) = default;
    friend auto operator<=>(const DirId&, const DirId&) = default;
};

// Same device, inode, size and modification time; the change time is not compared (a rename,
// for one, moves it).
bool SameContents(const FileId& a, const FileId& b);

// The identity of the file open as fd; empty when the system cannot tell it.
std::optional<FileId> FileIdOfFd(int fd);

// What a directory entry is, seen without following it: a link is a symbolic link (on Windows
// also a junction).
enum class EntryType { regularFile, directory, link, other };

// A directory entry's own status.
struct EntryStatus {
    EntryType type = EntryType::other;
    FileId id;
    uint64_t linkCount = 0;    // names the file has
    bool ownedByUser = false;  // belongs to the user running tessaro
};

inline FileId FileIdOf(const EntryStatus& status) { return status.id; }

}  // namespace tessaro
