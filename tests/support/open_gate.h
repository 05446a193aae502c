// Holds other processes at the moment they open one file, so a test can change the file (or its
// name) at an exact point of a run of the binary: between measuring a tile and decoding it, say.
// Built on fanotify permission events, which need CAP_SYS_ADMIN; armed() says whether it works.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "os/unique_fd.h"

namespace tessaro::testing {

class OpenGate {
public:
    // Watches every open of the file at `path` (the inode it names now).
    explicit OpenGate(const std::string& path);
    OpenGate(const OpenGate&) = delete;
    OpenGate& operator=(const OpenGate&) = delete;

    bool armed() const { return static_cast<bool>(fanotify_); }

    // Answers opens by other processes until `done` is true. Before open number n (counted from
    // 1) may proceed, calls beforeOpen(n). beforeOpen must not open the watched file itself (it
    // would wait for this very thread); use Rewrite, or act on the name (unlink, rename).
    void Serve(const std::function<void(int)>& beforeOpen, const std::atomic<bool>& done);

    // Replaces the file's contents in place through a descriptor taken before watching began.
    bool Rewrite(std::string_view bytes);

    int opens() const { return opens_; }

private:
    UniqueFd fanotify_;
    UniqueFd file_;
    int opens_ = 0;
};

}  // namespace tessaro::testing
