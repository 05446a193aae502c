// Text operations on paths. Paths are byte strings handled purely as text: nothing is normalised
// or resolved, and "/" is the only separator (a backslash is an ordinary byte in a Linux name).
#pragma once

#include <string>
#include <string_view>

namespace tessaro {

// True when name ends with suffix, folding ASCII capitals to small letters on both sides; every
// other byte compares as it is. An empty suffix matches every name.
bool EndsWithNoCase(std::string_view name, std::string_view suffix);

// The text before the last "/", or "" when there is none.
std::string GetParentDir(std::string_view path);

// The text from the last "/" to the end, the "/" included, or "" when there is none.
std::string GetLastPart(std::string_view path);

// dir + "/" + name: always one slash added, so "t/" and "a.tif" give "t//a.tif".
std::string JoinPath(std::string_view dir, std::string_view name);

}  // namespace tessaro
