// New files on Windows: a hidden file in the directory, created relative to the directory's handle
// for this process's use alone (no sharing while it is written), its space reserved up front, and
// later renamed over the name (atomically, replacing what is there) through its own handle. A
// failure marks the file for deletion through that same handle, so nothing of the attempt is
// left. A process killed before that leaves the hidden file behind, for whoever made its name to
// recognise and remove.
#include "os/new_file.h"

#include <fcntl.h>

#include <cerrno>
#include <utility>

#include "os/file_id_win.h"
#include "os/handle_fd_win.h"
#include "os/nt_file_win.h"

namespace tessaro {

namespace {

// How many temporary names to try before giving up on a directory full of collisions.
constexpr int kNameAttempts = 100;

// The new file as a descriptor; without one to be had, the file is marked for deletion before its
// handle is closed.
UniqueFd FdOfNewFile(UniqueHandle file) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_BINARY);
    if (fd < 0) {
        MarkForDeletion(file.get());
        return UniqueFd();
    }
    file.release();
    return UniqueFd(fd);
}

// The new space reads as zeros.
bool ReserveSpace(HANDLE file, uint64_t length) {
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(length);
    if (!SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation)) {
        const DWORD error = GetLastError();
        // A file system that cannot allocate ahead still takes the length.
        if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
            error != ERROR_INVALID_FUNCTION && error != ERROR_CALL_NOT_IMPLEMENTED)
            return false;
    }
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end) != FALSE;
}

// The file was hidden while it was made; in place it is not.
bool Unhide(HANDLE file, DWORD attributes) {
    FILE_BASIC_INFO basic{};  // times of zero stay as they are
    basic.FileAttributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

}  // namespace

// Windows has no unnamed files: the methods make no difference.
std::optional<NewFile> CreateNewFileAt(int dirFd, uint64_t length, const TempNameMaker& makeName,
                                       const NewFileMethods&) {
    const HANDLE dir = HandleOf(dirFd);
    const RelativeOpen create{GENERIC_READ | GENERIC_WRITE | DELETE, FILE_CREATE,
                              FILE_NON_DIRECTORY_FILE, 0, FILE_ATTRIBUTE_HIDDEN};
    NewFile file;
    for (int attempt = 0; !file.fd && attempt < kNameAttempts; ++attempt) {
        std::string name = makeName();
        UniqueHandle created = OpenRelative(dir, name, create);
        if (created) {
            file.fd = FdOfNewFile(std::move(created));
            if (!file.fd) return std::nullopt;
            file.tempName = std::move(name);
        } else if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    if (!file.fd) return std::nullopt;
    if (!ReserveSpace(HandleOf(file.fd.get()), length)) {
        DiscardNewFile(dirFd, std::move(file));
        return std::nullopt;
    }
    return file;
}

Placement PutNewFileInPlace(int dirFd, NewFile file, const std::string& name, bool durable,
                            const TempNameMaker&, FileId& id, const NewFileMethods&) {
    if (!file.fd || file.tempName.empty()) return Placement::failed;
    const HANDLE handle = HandleOf(file.fd.get());
    std::optional<HandleInfo> info;
    bool ok = (info = InfoOfHandle(handle)) && Unhide(handle, info->attributes);
    if (ok && durable) ok = FlushFileBuffers(handle) != FALSE;
    if (ok) ok = (info = InfoOfHandle(handle)).has_value();
    if (ok) id = info->id;
    if (ok) ok = RenameByHandle(handle, HandleOf(dirFd), name, true);
    if (!ok) {
        DiscardNewFile(dirFd, std::move(file));
        return Placement::failed;
    }
    // In place; its data was flushed before, when asked to be.
    file.fd.close();
    return Placement::placed;
}

void DiscardNewFile(int, NewFile file) {
    if (!file.tempName.empty() && file.fd) MarkForDeletion(HandleOf(file.fd.get()));
}

}  // namespace tessaro
