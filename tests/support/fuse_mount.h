// A FUSE mount of a directory through bindfs, for the tests of file systems other than the local
// one (Linux only): owners mapped as an export that squashes root maps them, or the calls such
// mounts lack. Unmounted when destroyed.
#pragma once

#include <string>
#include <vector>

namespace tessaro::testing {

class BindMount {
public:
    // Mounts `source` at `mountPoint` (both made first where they are missing) with bindfs and
    // its `options`.
    BindMount(const std::string& source, const std::string& mountPoint,
              const std::vector<std::string>& options);
    ~BindMount();
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;
    // False where bindfs or FUSE is not to be had; the test then skips.
    bool mounted() const { return mounted_; }

private:
    std::string mountPoint_;
    bool mounted_ = false;
};

}  // namespace tessaro::testing
