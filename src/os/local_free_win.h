// Memory the system hands out with LocalAlloc (security descriptors, argument vectors), freed
// when it goes out of scope: std::unique_ptr<T, LocalFreeDeleter>.
#pragma once

#include "os/windows_win.h"

namespace tessaro {

struct LocalFreeDeleter {
    void operator()(void* memory) const { LocalFree(memory); }
};

}  // namespace tessaro
