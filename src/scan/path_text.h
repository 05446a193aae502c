// Text operations on paths. Paths are handled purely as text: nothing is normalised or resolved
// (except by ResolvedPath). Two sets of rules, chosen by PathStyle:
//   posix:   "/" joins and splits; a backslash is an ordinary byte of a name. Paths are the bytes
//            the file system gave.
//   windows: "\" joins; splitting looks for the last backslash and, only when there is none, the
//            last slash. Paths are UTF-8, where the bytes of "\" and "/" never occur inside
//            another character, so searching bytes steps by characters (a name whose code page
//            936 form has 0x5C as a second byte stays whole).
// Every function defaults to the rules of the platform it is built for.
#pragma once

#include <string>
#include <string_view>

namespace tessaro {

enum class PathStyle { posix, windows };

#ifdef _WIN32
inline constexpr PathStyle kNativePathStyle = PathStyle::windows;
#else
inline constexpr PathStyle kNativePathStyle = PathStyle::posix;
#endif

// The separator that joins a directory and a name: "/" or "\".
char PathSeparator(PathStyle style = kNativePathStyle);

// True when name ends with suffix, folding ASCII capitals to small letters on both sides; every
// other byte compares as it is. An empty suffix matches every name.
bool EndsWithNoCase(std::string_view name, std::string_view suffix);

// The text before the last separator, or "" when there is none (a view into path).
std::string_view ParentDirView(std::string_view path, PathStyle style = kNativePathStyle);

// The same, as a string.
std::string GetParentDir(std::string_view path, PathStyle style = kNativePathStyle);

// The text from the last separator to the end, the separator included, or "" when there is none.
std::string GetLastPart(std::string_view path, PathStyle style = kNativePathStyle);

// dir + separator + name: always one separator added, so "t/" and "a.tif" give "t//a.tif"
// (on Windows "t\" and "a.tif" give "t\\a.tif").
std::string JoinPath(std::string_view dir, std::string_view name, PathStyle style = kNativePathStyle);

// The name a directory goes by in its path text: the last non-empty component, trailing
// separators ignored (on Windows either separator, a leading drive "X:" dropped, and trailing
// dots and blanks dropped as Windows drops them). "" when there is none, or when it is "." or
// "..", which name no directory by themselves.
std::string DirNameOf(std::string_view path, PathStyle style = kNativePathStyle);

// The absolute path the system resolves path to: on Linux with every link and "." or ".."
// resolved (realpath), on Windows as GetFullPathName makes it from the text and the current
// directory. "" when it cannot be resolved.
std::string ResolvedPath(const std::string& path);

}  // namespace tessaro
