#include "os/small_file.h"

#include <algorithm>
#include <cerrno>

#include "os/file_id_win.h"
#include "os/file_io_win.h"
#include "os/handle_fd_win.h"
#include "os/nt_file_win.h"

namespace tessaro {

// Written to a hidden file under the spare name, flushed, and renamed into place through its
// handle; Windows has no flush of a directory.
bool WriteFileDurably(int dirFd, const std::string& name, const std::string& spareName,
                      std::string_view bytes) {
    const HANDLE dir = HandleOf(dirFd);
    const UniqueHandle file =
        OpenRelative(dir, spareName,
                     {GENERIC_WRITE | DELETE, FILE_CREATE, FILE_NON_DIRECTORY_FILE, 0,
                      FILE_ATTRIBUTE_HIDDEN});
    if (!file) return false;
    if (WriteAllAt(file.get(), 0, bytes.data(), bytes.size()) && FlushFileBuffers(file.get()) &&
        RenameByHandle(file.get(), dir, name, true))
        return true;
    MarkForDeletion(file.get());
    return false;
}

std::optional<std::string> ReadTrustedFile(int dirFd, const std::string& name, std::size_t maxBytes,
                                           std::optional<uint32_t>) {
    // The most one ReadFile call is asked to read; a trusted file is far smaller.
    constexpr DWORD kMaxChunk = 1u << 20;
    const UniqueHandle file =
        OpenRelative(HandleOf(dirFd), name,
                     {GENERIC_READ, FILE_OPEN, FILE_OPEN_REPARSE_POINT | FILE_NON_DIRECTORY_FILE});
    const std::optional<HandleInfo> info = file ? InfoOfHandle(file.get()) : std::nullopt;
    if (!info || TypeOf(*info) != EntryType::regularFile ||
        (info->attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info->linkCount != 1 ||
        info->id.size > static_cast<int64_t>(maxBytes) || !OwnedByRunningUser(file.get())) {
        if (file) errno = EACCES;  // there, but not to be trusted
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(info->id.size), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        DWORD read = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - got, kMaxChunk));
        if (!ReadFile(file.get(), bytes.data() + got, chunk, &read, nullptr) || read == 0)
            return std::nullopt;
        got += read;
    }
    return bytes;
}

}  // namespace tessaro
