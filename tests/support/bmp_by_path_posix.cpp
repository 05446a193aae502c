#include <fcntl.h>

#include "bmp_by_path.h"

namespace tessaro::testing {

UniqueFd OpenTargetDirectory(const std::string& targetPath) {
    const std::string dir = bmp_internal::SplitTarget(targetPath).dir;
    return UniqueFd(open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

}  // namespace tessaro::testing
