// Knobs for choosing how the bitmap's temporary file is made and put in place. The program always
// uses the defaults (the best method the system offers, falling back automatically); the tests
// use the others to exercise the fallbacks that this machine would never reach by itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "bmp/bmp_file.h"

namespace tessaro::bmp_internal {

struct BmpFileMethods {
    // Try an unnamed O_TMPFILE file first; otherwise go straight to a hidden named one.
    bool unnamedTemp = true;
    // Link an unnamed file with linkat(AT_EMPTY_PATH) before trying /proc/self/fd/N.
    bool linkByEmptyPath = true;
};

std::optional<BmpFile> CreateBmp24With(const std::string& targetPath, int32_t width,
                                       int32_t height, const BmpFileMethods& methods);

std::optional<BmpFile> CreateBmp24AtWith(int dirFd, const std::string& name, int32_t width,
                                         int32_t height, const BmpFileMethods& methods);

bool SaveBmp24With(BmpFile& file, bool durable, const BmpFileMethods& methods);

}  // namespace tessaro::bmp_internal
