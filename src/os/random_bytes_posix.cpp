#include <sys/random.h>
#include <unistd.h>

#include "os/random_bytes.h"

namespace tessaro {

bool SystemRandomBytes(unsigned char* out, std::size_t size) {
    return getrandom(out, size, GRND_NONBLOCK) == static_cast<ssize_t>(size);
}

uint64_t ProcessNumber() { return static_cast<uint64_t>(getpid()); }

}  // namespace tessaro
