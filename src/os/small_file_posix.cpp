#include "os/small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "os/file_io.h"
#include "os/pinned_dir.h"
#include "os/pinned_dir_posix.h"
#include "os/unique_fd.h"

namespace tessaro {

// Written into an unnamed file, flushed, then given its name in one step: directly when there is
// none yet, else by renaming it over the old one from the spare name.
bool WriteFileDurably(int dirFd, const std::string& name, const std::string& spareName,
                      std::string_view bytes) {
    UniqueFd fd(openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    bool createdSpare = false;
    if (!fd) {
        fd = UniqueFd(openat(dirFd, spareName.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        createdSpare = static_cast<bool>(fd);
    }
    // Readable by all who may read the directory (what it records, they can see there anyway),
    // so that a later run of another user can trust a file of root's; writable by its owner only.
    if (fd) fchmod(fd.get(), 0644);
    bool ok = fd && WriteAllAt(fd.get(), 0, bytes.data(), bytes.size()) && fsync(fd.get()) == 0;
    if (ok && !createdSpare) {
        if (LinkUnnamedFile(fd.get(), dirFd, name)) return fd.close() && fsync(dirFd) == 0;
        ok = createdSpare = LinkUnnamedFile(fd.get(), dirFd, spareName);
    }
    ok = ok && fd.close() && RenameEntry(dirFd, spareName, name, true);
    if (!ok && createdSpare) RemoveEntry(dirFd, spareName);
    return ok && fsync(dirFd) == 0;
}

std::optional<std::string> ReadTrustedFile(int dirFd, const std::string& name, std::size_t maxBytes,
                                           std::optional<uint32_t> ownNewFiles) {
    UniqueFd fd(openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0) return std::nullopt;
    const bool trustedOwner = st.st_uid == geteuid() || st.st_uid == 0 ||
                              (ownNewFiles && st.st_uid == *ownNewFiles);
    if (!S_ISREG(st.st_mode) || !trustedOwner || st.st_nlink != 1 ||
        st.st_size > static_cast<off_t>(maxBytes))
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        got += static_cast<std::size_t>(n);
    }
    return bytes;
}

}  // namespace tessaro
