// rand_s draws from the system's random source (RtlGenRandom).
#define _CRT_RAND_S
#include <stdlib.h>

#include "os/random_bytes.h"
#include "os/windows_win.h"

namespace tessaro {

bool SystemRandomBytes(unsigned char* out, std::size_t size) {
    for (std::size_t i = 0; i < size;) {
        unsigned int value = 0;
        if (rand_s(&value) != 0) return false;
        for (int byte = 0; byte < 4 && i < size; ++byte, value >>= 8) out[i++] = static_cast<unsigned char>(value);
    }
    return true;
}

uint64_t ProcessNumber() { return GetCurrentProcessId(); }

}  // namespace tessaro
