// The decoding child's identity: a child of a run as root drops to a user and group that own
// nothing and are no one's, with no supplementary groups and so no capabilities, before it reads a
// byte. A child of an ordinary user's run stays that user, who has nothing more to give.
#include <grp.h>
#include <unistd.h>

#include "sandbox/confine.h"

namespace tessaro {

namespace {

// An id no account is given: past the range systems hand out, and not the "nobody" of NFS.
constexpr uid_t kDecoderId = 0x7ffffffe;

}  // namespace

bool DropPrivileges() {
    uid_t real, effective, saved;
    gid_t realGroup, effectiveGroup, savedGroup;
    if (getresuid(&real, &effective, &saved) != 0 || getresgid(&realGroup, &effectiveGroup, &savedGroup) != 0)
        return false;
    if (real != 0 && effective != 0 && saved != 0) return true;  // an ordinary user already
    // Groups first, while the process still may change them.
    if (setgroups(0, nullptr) != 0 || setresgid(kDecoderId, kDecoderId, kDecoderId) != 0 ||
        setresuid(kDecoderId, kDecoderId, kDecoderId) != 0)
        return false;
    return getuid() == kDecoderId && geteuid() == kDecoderId && getgid() == kDecoderId &&
           getegid() == kDecoderId && getgroups(0, nullptr) == 0;
}

}  // namespace tessaro
