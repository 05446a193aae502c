#include <cstdlib>
#include <memory>

#include "scan/path_text.h"

namespace tessaro {

std::string ResolvedPath(const std::string& path) {
    struct FreeDeleter {
        void operator()(char* p) const { std::free(p); }
    };
    const std::unique_ptr<char, FreeDeleter> resolved(realpath(path.c_str(), nullptr));
    return resolved ? std::string(resolved.get()) : std::string();
}

}  // namespace tessaro
