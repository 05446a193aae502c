#include "scan/path_text.h"

namespace tessaro {

namespace {

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool EndsWithNoCase(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size()) return false;
    std::string_view tail = name.substr(name.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (FoldAscii(tail[i]) != FoldAscii(suffix[i])) return false;
    return true;
}

std::string GetParentDir(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

std::string GetLastPart(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(slash));
}

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string joined;
    joined.reserve(dir.size() + 1 + name.size());
    joined.append(dir).append("/").append(name);
    return joined;
}

}  // namespace tessaro
