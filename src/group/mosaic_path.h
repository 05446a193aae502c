// Where a group's mosaic is saved.
#pragma once

#include <optional>
#include <string>

namespace tessaro {

// Inside groupDir, named after it: groupDir + separator + name + ".bmp" (JoinPath). The name is
// the one groupDir's text gives the directory (DirNameOf: its last non-empty component); when
// that is "." or "..", or there is none, the one its resolved path gives (ResolvedPath). Empty
// for the file system's root (on Windows a drive's root), which has no name.
std::optional<std::string> MosaicPath(const std::string& groupDir);

// The same mosaic's name in groupDir.
std::optional<std::string> MosaicName(const std::string& groupDir);

}  // namespace tessaro
