// Knobs for choosing how the bitmap's temporary file is made and put in place, and the target's
// parts as text. The program always uses the defaults (the best method the system offers, falling
// back automatically); the tests use the others to exercise the fallbacks that this machine would
// never reach by itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "bmp/bmp_file.h"
#include "os/new_file.h"
#include "os/unique_fd.h"

namespace tessaro::bmp_internal {

using BmpFileMethods = NewFileMethods;

// Where a target lives, taken from its path as text.
struct TargetPlace {
    std::string dir;     // "." when the path has no separator, "/" for an entry of the root
    std::string prefix;  // the path up to and including its last separator; "" when it has none
    std::string name;    // the entry itself; empty when the path ends in a separator
};

TargetPlace SplitTarget(const std::string& path);

// The file for a bitmap saved as targetPath, whose directory is already open as dirFd (which the
// file keeps): the last part of targetPath is the entry in that directory.
std::optional<BmpFile> CreateBmp24InWith(UniqueFd dirFd, const std::string& targetPath,
                                         int32_t width, int32_t height,
                                         const BmpFileMethods& methods);

std::optional<BmpFile> CreateBmp24AtWith(int dirFd, const std::string& name, int32_t width,
                                         int32_t height, const BmpFileMethods& methods);

bool SaveBmp24With(BmpFile& file, bool durable, const BmpFileMethods& methods);

}  // namespace tessaro::bmp_internal
