#include <fcntl.h>

#include "bmp_by_path.h"
#include "os/handle_fd_win.h"
#include "os/nt_file_win.h"

namespace tessaro::testing {

UniqueFd OpenTargetDirectory(const std::string& targetPath) {
    const std::string prefix = bmp_internal::SplitTarget(targetPath).prefix;
    return FdOf(OpenDirectoryAt(prefix.empty() ? "." : prefix), _O_BINARY | _O_RDONLY);
}

}  // namespace tessaro::testing
