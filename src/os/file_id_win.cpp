#include "os/file_id_win.h"

#include <aclapi.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "os/handle_fd_win.h"
#include "os/local_free_win.h"
#include "os/nt_file_win.h"

namespace tessaro {

namespace {

constexpr int64_t kTicksPerSecond = 10'000'000;  // FILETIME counts 100 ns ticks

void SplitTicks(LARGE_INTEGER ticks, int64_t* seconds, int64_t* nanoseconds) {
    *seconds = ticks.QuadPart / kTicksPerSecond;
    *nanoseconds = ticks.QuadPart % kTicksPerSecond * 100;
}

using SidBytes = std::vector<BYTE>;

SidBytes CopySid(PSID sid) {
    const auto* bytes = static_cast<const BYTE*>(sid);
    return SidBytes(bytes, bytes + GetLengthSid(sid));
}

// The file's owner; empty when Windows reports none or the handle may not read it.
std::optional<SidBytes> OwnerOf(HANDLE handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return std::nullopt;
    const std::unique_ptr<void, LocalFreeDeleter> release(descriptor);
    if (owner == nullptr || !IsValidSid(owner)) return std::nullopt;
    return CopySid(owner);
}

// One piece of the process token's information (TokenUser, TokenOwner).
std::vector<std::max_align_t> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<std::max_align_t> storage(size / sizeof(std::max_align_t) + 1);
    if (size == 0 || !GetTokenInformation(token, kind, storage.data(), size, &size)) storage.clear();
    return storage;
}

// The SIDs that stand for the user running tessaro.
const std::vector<SidBytes>& RunningUserSids() {
    static const std::vector<SidBytes> sids = [] {
        std::vector<SidBytes> found;
        HANDLE raw = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return found;
        const UniqueHandle token(raw);
        if (const auto user = TokenInformation(token.get(), TokenUser); !user.empty())
            found.push_back(CopySid(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid));
        if (const auto owner = TokenInformation(token.get(), TokenOwner); !owner.empty())
            found.push_back(CopySid(reinterpret_cast<const TOKEN_OWNER*>(owner.data())->Owner));
        return found;
    }();
    return sids;
}

bool SameSid(const SidBytes& a, const SidBytes& b) {
    return EqualSid(const_cast<BYTE*>(a.data()), const_cast<BYTE*>(b.data())) != FALSE;
}

bool IsRunningUser(const SidBytes& sid) {
    for (const SidBytes& own : RunningUserSids())
        if (SameSid(own, sid)) return true;
    return false;
}

}  // namespace

std::optional<HandleInfo> InfoOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION file;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandle(handle, &file) ||
        !GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        return std::nullopt;
    HandleInfo info;
    info.id.dev = file.dwVolumeSerialNumber;
    info.id.ino = (static_cast<uint64_t>(file.nFileIndexHigh) << 32) | file.nFileIndexLow;
    info.id.size = static_cast<int64_t>((static_cast<uint64_t>(file.nFileSizeHigh) << 32) |
                                        file.nFileSizeLow);
    SplitTicks(basic.LastWriteTime, &info.id.mtimeSec, &info.id.mtimeNsec);
    SplitTicks(basic.ChangeTime, &info.id.ctimeSec, &info.id.ctimeNsec);
    info.attributes = file.dwFileAttributes;
    info.linkCount = file.nNumberOfLinks;
    FILE_ATTRIBUTE_TAG_INFO tag;
    if ((info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag))
        info.reparseTag = tag.ReparseTag;
    return info;
}

bool IsLink(const HandleInfo& info) {
    return (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           IsReparseTagNameSurrogate(info.reparseTag);
}

EntryType TypeOf(const HandleInfo& info) {
    if (IsLink(info)) return EntryType::link;
    if ((info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryType::directory;
    if ((info.attributes & FILE_ATTRIBUTE_DEVICE) != 0) return EntryType::other;
    return EntryType::regularFile;
}

bool OwnedByRunningUser(HANDLE handle) {
    const std::optional<SidBytes> owner = OwnerOf(handle);
    return owner && IsRunningUser(*owner);
}

bool MayFollowLinkAt(HANDLE dir, const std::string& name, HANDLE target, FileId* linkId) {
    const UniqueHandle link = OpenRelative(
        dir, name, {FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_OPEN, FILE_OPEN_REPARSE_POINT});
    const std::optional<HandleInfo> info = link ? InfoOfHandle(link.get()) : std::nullopt;
    if (!info || !IsLink(*info)) return false;
    const std::optional<SidBytes> linkOwner = OwnerOf(link.get());
    if (!linkOwner) return false;
    if (!IsRunningUser(*linkOwner)) {
        const std::optional<SidBytes> targetOwner = OwnerOf(target);
        if (!targetOwner || !SameSid(*linkOwner, *targetOwner)) return false;
    }
    *linkId = info->id;
    return true;
}

std::optional<FileId> FileIdOfFd(int fd) {
    const std::optional<HandleInfo> info = InfoOfHandle(HandleOf(fd));
    if (!info) return std::nullopt;
    return info->id;
}

}  // namespace tessaro
