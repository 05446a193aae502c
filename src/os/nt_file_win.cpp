#include "os/nt_file_win.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <vector>

#include "os/file_id_win.h"
#include "os/wide_text_win.h"

namespace tessaro {

namespace {

// NtSetInformationFile's class for FILE_DISPOSITION_INFO_EX (Windows 10 1607 and later), which
// this SDK's enumeration does not name.
constexpr auto kFileDispositionInformationEx = static_cast<FILE_INFORMATION_CLASS>(64);

// UNICODE_STRING lengths are 16-bit byte counts.
constexpr std::size_t kMaxNtNameChars = 0x7FFF;

bool FailWith(DWORD error) {
    SetLastError(error);
    errno = ErrnoOf(error);
    return false;
}

}  // namespace

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_SUCCESS: return 0;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_PATHNAME: return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_PRIVILEGE_NOT_HELD:
        case ERROR_CANT_ACCESS_FILE:
        case ERROR_DELETE_PENDING:
        case ERROR_WRITE_PROTECT: return EACCES;
        case ERROR_DIRECTORY: return ENOTDIR;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_INVALID_NAME: return EINVAL;
        case ERROR_CANT_RESOLVE_FILENAME: return ELOOP;
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION: return ENOTSUP;
        default: return EIO;
    }
}

bool FailWithLastError() { return FailWith(GetLastError()); }

namespace {

// NtCreateFile for `name` relative to `root` (the root itself for an empty name).
UniqueHandle OpenNt(HANDLE root, std::wstring& name, const RelativeOpen& how) {
    if (name.size() > kMaxNtNameChars) {
        FailWith(ERROR_FILENAME_EXCED_RANGE);
        return UniqueHandle();
    }
    const auto bytes = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    UNICODE_STRING text{bytes, bytes, name.data()};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, root, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    const NTSTATUS status =
        NtCreateFile(&handle, how.access | SYNCHRONIZE, &attributes, &io, nullptr, how.attributes,
                     how.share, how.disposition, how.options | FILE_SYNCHRONOUS_IO_NONALERT,
                     nullptr, 0);
    if (!NT_SUCCESS(status)) {
        FailWith(RtlNtStatusToDosError(status));
        return UniqueHandle();
    }
    return UniqueHandle(handle);
}

}  // namespace

UniqueHandle OpenRelative(HANDLE dir, const std::string& name, const RelativeOpen& how) {
    if (name.empty() || name.find_first_of("\\/") != std::string::npos) {
        FailWith(ERROR_INVALID_NAME);
        return UniqueHandle();
    }
    std::wstring wide = WideFromUtf8(name);
    return OpenNt(dir, wide, how);
}

UniqueHandle OpenRelativePath(HANDLE dir, std::wstring path, const RelativeOpen& how) {
    if (path.empty() || path.front() == L'\\') {
        FailWith(ERROR_INVALID_NAME);
        return UniqueHandle();
    }
    return OpenNt(dir, path, how);
}

UniqueHandle OpenDirectoryAt(const std::string& path) {
    UniqueHandle dir(CreateFileW(ApiPath(path).c_str(),
                                 FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                                     SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!dir) {
        FailWithLastError();
        return dir;
    }
    const std::optional<HandleInfo> info = InfoOfHandle(dir.get());
    if (!info) {
        FailWithLastError();
        return UniqueHandle();
    }
    if ((info->attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        FailWith(ERROR_DIRECTORY);
        return UniqueHandle();
    }
    return dir;
}

namespace {

// Renaming and linking take the same record: the new name, relative to `dir`.
bool SetNameByHandle(HANDLE file, HANDLE dir, const std::string& name, bool replace,
                     FILE_INFORMATION_CLASS what) {
    const std::wstring wide = WideFromUtf8(name);
    const std::size_t nameBytes = wide.size() * sizeof(wchar_t);
    const std::size_t size = offsetof(FILE_RENAME_INFORMATION, FileName) + nameBytes;
    std::vector<std::max_align_t> storage(size / sizeof(std::max_align_t) + 1);
    auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(storage.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = dir;
    info->FileNameLength = static_cast<ULONG>(nameBytes);
    std::memcpy(info->FileName, wide.data(), nameBytes);
    // The name goes to the file system as it is, relative to `dir` (the Win32 call would first
    // make it a path from the current directory).
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = NtSetInformationFile(file, &io, info, static_cast<ULONG>(size), what);
    return NT_SUCCESS(status) || FailWith(RtlNtStatusToDosError(status));
}

// FILE_LINK_INFORMATION, laid out as FILE_RENAME_INFORMATION.
constexpr auto kFileLinkInformation = static_cast<FILE_INFORMATION_CLASS>(11);

}  // namespace

bool RenameByHandle(HANDLE file, HANDLE dir, const std::string& name, bool replace) {
    return SetNameByHandle(file, dir, name, replace, FileRenameInformation);
}

bool LinkByHandle(HANDLE file, HANDLE dir, const std::string& name) {
    return SetNameByHandle(file, dir, name, false, kFileLinkInformation);
}

bool MarkForDeletion(HANDLE file) {
    // The name goes at once where the file system can (POSIX semantics), even while another
    // program has the file open with delete sharing; else when the last handle closes.
    FILE_DISPOSITION_INFO_EX now{FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
    IO_STATUS_BLOCK io{};
    if (NT_SUCCESS(NtSetInformationFile(file, &io, &now, sizeof now, kFileDispositionInformationEx)))
        return true;
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition))
        return FailWithLastError();
    return true;
}

}  // namespace tessaro
