#include "os/file_io.h"

#include <algorithm>
#include <cerrno>

#include "os/file_io_win.h"
#include "os/handle_fd_win.h"
#include "os/nt_file_win.h"
#include "os/windows_win.h"

namespace tessaro {

namespace {

std::wstring WideText(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                           static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        wide.data(), length);
    return wide;
}

}  // namespace

UniqueFd OpenToRead(const std::string& path) {
    const std::wstring wide = WideText(path);
    if (wide.empty()) return UniqueFd();
    // Not inheritable (no security attributes); a pipe or device opens without waiting and is
    // turned away by RegularFileSize.
    UniqueHandle file(CreateFileW(wide.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return FdOf(std::move(file), _O_RDONLY | _O_BINARY);
}

UniqueFd OpenToWrite(const std::string& path) {
    const std::wstring wide = WideText(path);
    if (wide.empty()) {
        errno = ENOENT;
        return UniqueFd();
    }
    UniqueHandle file(CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) errno = ErrnoOf(GetLastError());
    return FdOf(std::move(file), _O_WRONLY | _O_BINARY);
}

bool WriteAllHere(int fd, std::string_view text) {
    const HANDLE file = HandleOf(fd);
    while (!text.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), DWORD{1} << 30));
        DWORD written = 0;
        if (!WriteFile(file, text.data(), chunk, &written, nullptr) || written == 0) return false;
        text.remove_prefix(written);
    }
    return true;
}

int64_t ReadAt(int fd, void* buffer, std::size_t size, uint64_t offset) {
    const HANDLE file = HandleOf(fd);
    if (file == INVALID_HANDLE_VALUE) return -1;
    // One ReadFile reads at most 4 GiB - 1 bytes; the caller asks again for the rest.
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, DWORD{1} << 30));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (!ReadFile(file, buffer, chunk, &read, &at)) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF) return 0;
        // A handle opened for overlapped use reads in the background even so.
        if (error != ERROR_IO_PENDING || !GetOverlappedResult(file, &at, &read, TRUE))
            return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return read;
}

std::optional<uint64_t> RegularFileSize(int fd) {
    const HANDLE file = HandleOf(fd);
    if (file == INVALID_HANDLE_VALUE || GetFileType(file) != FILE_TYPE_DISK) return std::nullopt;
    FILE_STANDARD_INFO info{};
    if (!GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) ||
        info.Directory || info.EndOfFile.QuadPart < 0)
        return std::nullopt;
    return static_cast<uint64_t>(info.EndOfFile.QuadPart);
}

bool WriteAllAt(HANDLE file, uint64_t offset, const void* data, std::size_t size) {
    // The most one WriteFile call is asked to write.
    constexpr std::size_t kMaxWrite = std::size_t{1} << 30;
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min(size, kMaxWrite));
        if (!WriteFile(file, bytes, chunk, &written, &at) || written == 0) return false;
        bytes += written;
        offset += written;
        size -= written;
    }
    return true;
}

bool WriteAllAt(int fd, uint64_t offset, const void* data, std::size_t size) {
    return WriteAllAt(HandleOf(fd), offset, data, size);
}

// One write per piece: Windows has no gathered write to an arbitrary file.
bool WriteAllAt(int fd, uint64_t offset, std::span<const FilePiece> pieces) {
    for (const FilePiece& piece : pieces) {
        if (!WriteAllAt(fd, offset, piece.data, piece.size)) return false;
        offset += piece.size;
    }
    return true;
}

UniqueFd DuplicateFd(int fd) {
    const HANDLE file = HandleOf(fd);
    HANDLE copy = nullptr;
    if (file == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), file, GetCurrentProcess(), &copy, 0,
                         /*inheritable*/ FALSE, DUPLICATE_SAME_ACCESS))
        return UniqueFd();
    return FdOf(UniqueHandle(copy), _O_BINARY);
}

}  // namespace tessaro
