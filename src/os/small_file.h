// Small files written whole and read whole inside an open directory: records a later run must be
// able to trust, so a file is either there complete or not at all, and only a file this user
// wrote is read back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessaro {

// Gives entry `name` of the directory these bytes, written whole and flushed to stable storage
// before the name takes them in one step (replacing an earlier file), then flushes the directory.
// The file is made unnamed where the system can (Linux), else under `spareName`, which it leaves
// again: nothing of a failed write remains under either name. On Linux readable by everyone and
// writable by its owner alone; hidden on Windows until it is renamed.
bool WriteFileDurably(int dirFd, const std::string& name, const std::string& spareName,
                      std::string_view bytes);

// The bytes of entry `name` when it is a regular file with a single name, reached without
// following a link, of at most maxBytes, written by someone the run trusts. On Linux that is a
// file owned by the user running tessaro, by root (no other user can make a file of root's), or
// by `ownNewFiles`, the owner the file system gives this run's own new files in that directory
// (on an export that squashes root, not root); on Windows a file of the user running tessaro.
// Empty otherwise, with errno ENOENT when there is no such entry.
std::optional<std::string> ReadTrustedFile(int dirFd, const std::string& name, std::size_t maxBytes,
                                           std::optional<uint32_t> ownNewFiles = std::nullopt);

}  // namespace tessaro
