// What the bitmap file's shared code and its system-specific half hand each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "bmp/bmp_file.h"

namespace tessaro::bmp_internal {

// Where a target lives, taken from its path as text.
struct TargetPlace {
    std::string dir;     // "." when the path has no separator, "/" for an entry of the root
    std::string prefix;  // the path up to and including its last separator; "" when it has none
    std::string name;    // the entry itself; empty when the path ends in a separator
};

TargetPlace SplitTarget(const std::string& path);

// A file not yet created for a width x height bitmap saved as targetPath (named place.name in
// the directory dirFd, which it keeps). Empty when the size makes no bitmap a 32-bit header can
// describe, the target has no name, or there is no directory.
std::optional<BmpFile> PlanBmpFile(UniqueFd dirFd, const TargetPlace& place,
                                   const std::string& targetPath, int32_t width, int32_t height);

// The bitmap's whole length, headers included.
uint64_t BmpFileLength(const BmpFile& file);

// The system's own steps.

// Writes size bytes at byte offset `offset` of the file fd, whatever the system's short writes.
bool WriteAllAt(int fd, uint64_t offset, const uint8_t* data, std::size_t size);

// The same for pieces (at most kMaxBmpPieces) written one after the other.
bool WriteAllAt(int fd, uint64_t offset, std::span<const BmpPiece> pieces);

// Removes the file's temporary name, if it has one, and closes it.
void DiscardTemp(BmpFile& file);

}  // namespace tessaro::bmp_internal
