#include "os/path_status.h"
#include "os/unique_handle_win.h"
#include "os/wide_text_win.h"
#include "os/windows_win.h"

namespace tessaro {

uint64_t FileSizeOf(const std::string& path) {
    // Opened only to read its attributes, as stat does, through any link.
    const UniqueHandle file(CreateFileW(ApiPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    LARGE_INTEGER size{};
    if (!file || GetFileSizeEx(file.get(), &size) == 0 || size.QuadPart < 0) return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

}  // namespace tessaro
