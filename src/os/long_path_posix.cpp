#include "os/long_path_posix.h"

#include <fcntl.h>
#include <limits.h>

#include <cerrno>
#include <string>

namespace tessaro {

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK;

// How much of a path one open takes, ending at a separator: room to spare under PATH_MAX.
constexpr std::size_t kPieceBytes = PATH_MAX / 2;

}  // namespace

UniqueFd OpenDirectoryPath(int fromFd, std::string_view path) {
    if (path.size() < kPieceBytes) return UniqueFd(openat(fromFd, std::string(path).c_str(), kDirFlags));
    UniqueFd at;
    if (path.front() == '/') {
        at = UniqueFd(open("/", kDirFlags));
        path.remove_prefix(1);
    }
    while (!path.empty()) {
        std::size_t cut = path.size() < kPieceBytes ? path.size() : path.rfind('/', kPieceBytes);
        // A name is at most NAME_MAX bytes, so a separator is always near; none means a name
        // no directory can hold.
        if (cut == std::string_view::npos || cut == 0) {
            errno = ENAMETOOLONG;
            return UniqueFd();
        }
        UniqueFd next(openat(at ? at.get() : fromFd, std::string(path.substr(0, cut)).c_str(), kDirFlags));
        if (!next) return UniqueFd();
        at = std::move(next);
        path.remove_prefix(cut);
        while (!path.empty() && path.front() == '/') path.remove_prefix(1);
    }
    return at;
}

}  // namespace tessaro
