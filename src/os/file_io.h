// Reading and writing a file through a descriptor at offsets of the caller's own, never through
// the descriptor's file offset, so several readers (or writers of separate parts) can share one
// descriptor. Descriptors are C runtime descriptors on every system (see unique_fd.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "os/unique_fd.h"

namespace tessaro {

// Opens `path` (UTF-8 on Windows) for reading only, without blocking on a FIFO and without
// letting a child process inherit it. Empty when it cannot be opened.
UniqueFd OpenToRead(const std::string& path);

// Creates `path` (UTF-8 on Windows), or empties the file there, for writing from its start:
// a report the user named, a file or a pipe alike. Empty with errno on failure.
UniqueFd OpenToWrite(const std::string& path);

// Writes all of text where the descriptor's position stands (a pipe takes it as a stream);
// false on any failure.
bool WriteAllHere(int fd, std::string_view text);

// Reads at most `size` bytes from byte `offset` of the file. Returns how many were read (0 at
// the end of the file), or -1 on failure; an interrupted read is retried. The descriptor's own
// file offset is left alone on Linux; on Windows the handle's file pointer may move, which no
// reader relies on.
int64_t ReadAt(int fd, void* buffer, std::size_t size, uint64_t offset);

// The size in bytes of the file `fd` refers to, when it is a regular file; empty for anything
// else (a directory, a FIFO, a device) and when it cannot be asked.
std::optional<uint64_t> RegularFileSize(int fd);

// Writes `size` bytes at byte `offset` of the file, whatever the system's short writes and
// interruptions; false on any failure, and when a write makes no progress.
bool WriteAllAt(int fd, uint64_t offset, const void* data, std::size_t size);

// Bytes that lie in one place, to be written with others gathered from elsewhere.
struct FilePiece {
    const void* data = nullptr;
    std::size_t size = 0;
};

// The most pieces one gathered write takes.
inline constexpr std::size_t kMaxFilePieces = 256;

// Writes the pieces (at most kMaxFilePieces) one after the other from byte `offset` on, in as few
// writes as the system allows: one gathered write on Linux, one write per piece on Windows.
bool WriteAllAt(int fd, uint64_t offset, std::span<const FilePiece> pieces);

// A second descriptor for the same open file, which a child process does not inherit. Empty on
// failure.
UniqueFd DuplicateFd(int fd);

}  // namespace tessaro
