#include <sys/stat.h>

#include "os/path_status.h"

namespace tessaro {

uint64_t FileSizeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

}  // namespace tessaro
