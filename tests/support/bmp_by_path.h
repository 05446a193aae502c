// The bitmap file created by its target's path, for tests: the directory is opened from the path
// text, and the file made in it as the program makes it in a directory it holds open.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "bmp/bmp_file.h"
#include "bmp/bmp_file_internal.h"
#include "os/unique_fd.h"

namespace tessaro {

// The file for a width x height bitmap that will be saved as targetPath (relative to the working
// directory when it has no separator). Empty when it cannot be created or its space cannot be
// reserved.
std::optional<BmpFile> CreateBmp24(const std::string& targetPath, int32_t width, int32_t height);

namespace bmp_internal {

// The same, made and put in place by the given methods.
std::optional<BmpFile> CreateBmp24With(const std::string& targetPath, int32_t width,
                                       int32_t height, const BmpFileMethods& methods);

}  // namespace bmp_internal

namespace testing {

// Opens the directory the target's path names (bmp_by_path_posix.cpp, bmp_by_path_win.cpp);
// empty when it cannot be opened.
UniqueFd OpenTargetDirectory(const std::string& targetPath);

}  // namespace testing

}  // namespace tessaro
