// The names of the bitmap's temporary files: ".<target>.tessaro-XXXXXX" in the target's own
// directory, hidden, and never ending in ".tif" or ".bmp", so a later run never mistakes one for
// a tile or a finished picture.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessaro {

// At most this many bytes of the target's name go into a temporary name, keeping it within the
// longest name a directory takes.
inline constexpr std::size_t kMaxTempStemBytes = 200;

// A fresh temporary name for the target named targetName, with six random letters and digits.
std::string MakeTempName(const std::string& targetName);

// Whether `name` is one MakeTempName gives for targetName.
bool IsTempNameOf(const std::string& name, const std::string& targetName);

// How many bytes of targetName a temporary name keeps: kMaxTempStemBytes at the most, and on
// Windows never part of a character.
std::size_t TempStemBytes(std::string_view targetName);

}  // namespace tessaro
