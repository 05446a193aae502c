#include "os/file_id.h"

namespace tessaro {

bool SameContents(const FileId& a, const FileId& b) {
    return a.dev == b.dev && a.ino == b.ino && a.size == b.size && a.mtimeSec == b.mtimeSec &&
           a.mtimeNsec == b.mtimeNsec;
}

}  // namespace tessaro
