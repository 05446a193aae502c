// A fresh directory under the system's temp directory, removed with everything in it when the
// test ends. Paths are UTF-8 text with the system's separator ("\" on Windows, "/" elsewhere).
#pragma once

#include <filesystem>
#include <string>

namespace tessaro::testing {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// `relative` with every "/" turned into the system's separator.
std::string NativePath(std::string relative);

// The standard library's path for UTF-8 text, and back (on Windows a narrow path would be read
// in the ANSI code page).
std::filesystem::path FsPath(const std::string& utf8);
std::string Utf8Path(const std::filesystem::path& path);

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // path() + separator + relative, the slashes in relative made separators.
    std::string operator/(const std::string& relative) const {
        return path_ + kSeparator + NativePath(relative);
    }

private:
    std::string path_;
};

}  // namespace tessaro::testing
