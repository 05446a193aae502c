#include "scan/path_text.h"

namespace tessaro {

namespace {

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Where the last separator is: on Windows the last backslash, or the last slash when there is
// no backslash at all.
std::size_t LastSeparator(std::string_view path, PathStyle style) {
    if (style == PathStyle::posix) return path.rfind('/');
    const std::size_t backslash = path.rfind('\\');
    return backslash != std::string_view::npos ? backslash : path.rfind('/');
}

// Either separator counts where a name is picked out: neither can be part of a Windows name.
bool IsNameSeparator(char c, PathStyle style) {
    return c == '/' || (style == PathStyle::windows && c == '\\');
}

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

char PathSeparator(PathStyle style) { return style == PathStyle::windows ? '\\' : '/'; }

bool EndsWithNoCase(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size()) return false;
    std::string_view tail = name.substr(name.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (FoldAscii(tail[i]) != FoldAscii(suffix[i])) return false;
    return true;
}

std::string_view ParentDirView(std::string_view path, PathStyle style) {
    const std::size_t separator = LastSeparator(path, style);
    return separator == std::string_view::npos ? std::string_view() : path.substr(0, separator);
}

std::string GetParentDir(std::string_view path, PathStyle style) {
    return std::string(ParentDirView(path, style));
}

std::string GetLastPart(std::string_view path, PathStyle style) {
    const std::size_t separator = LastSeparator(path, style);
    return separator == std::string_view::npos ? std::string() : std::string(path.substr(separator));
}

std::string JoinPath(std::string_view dir, std::string_view name, PathStyle style) {
    std::string joined;
    joined.reserve(dir.size() + 1 + name.size());
    joined.append(dir).append(1, PathSeparator(style)).append(name);
    return joined;
}

std::string DirNameOf(std::string_view path, PathStyle style) {
    while (!path.empty() && IsNameSeparator(path.back(), style)) path.remove_suffix(1);
    std::size_t start = path.size();
    while (start > 0 && !IsNameSeparator(path[start - 1], style)) --start;
    std::string_view name = path.substr(start);
    if (style == PathStyle::windows) {
        if (name.size() >= 2 && IsAsciiLetter(name[0]) && name[1] == ':') name.remove_prefix(2);
        while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
    }
    if (name == "." || name == "..") return std::string();
    return std::string(name);
}

}  // namespace tessaro
