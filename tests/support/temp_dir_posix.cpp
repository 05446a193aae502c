#include "temp_dir.h"

#include <system_error>

namespace tessaro::testing {

namespace fs = std::filesystem;

void RemoveTempTree(const std::string& path) {
    // Tests may leave read-only directories behind; make them writable before removing.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code entryError;
        if (it->is_directory(entryError) && !it->is_symlink(entryError))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, entryError);
    }
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
}

}  // namespace tessaro::testing
