#include <cerrno>
#include <cstring>
#include <memory>

#include "os/error_text.h"
#include "os/local_free_win.h"
#include "os/wide_text_win.h"
#include "os/windows_win.h"

namespace tessaro {

namespace {

// The Windows error an errno value most often comes from here; 0 for those without one.
DWORD WindowsErrorOf(int error) {
    switch (error) {
        case ENOENT: return ERROR_PATH_NOT_FOUND;
        case EACCES: return ERROR_ACCESS_DENIED;
        case ENOTDIR: return ERROR_DIRECTORY;
        case EEXIST: return ERROR_ALREADY_EXISTS;
        case ENOSPC: return ERROR_DISK_FULL;
        case EMFILE: return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        case EBUSY: return ERROR_SHARING_VIOLATION;
        case EIO: return ERROR_GEN_FAILURE;
        default: return 0;
    }
}

}  // namespace

std::string ErrorReason(int error) {
    if (const DWORD code = WindowsErrorOf(error)) {
        wchar_t* text = nullptr;
        const DWORD length = FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        const std::unique_ptr<wchar_t, LocalFreeDeleter> owned(text);
        if (length > 0) {
            std::wstring reason(text, length);
            // One line, without the sentence's full stop.
            while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' ||
                                       reason.back() == L' ' || reason.back() == L'.' ||
                                       reason.back() == L'\x3002'))
                reason.pop_back();
            if (!reason.empty()) return Utf8FromWide(reason);
        }
    }
    return std::strerror(error);
}

}  // namespace tessaro
