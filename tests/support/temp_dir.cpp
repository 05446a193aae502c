#include "temp_dir.h"

#include <algorithm>
#include <random>
#include <stdexcept>
#include <system_error>

namespace tessaro::testing {

namespace fs = std::filesystem;

std::string NativePath(std::string relative) {
    std::replace(relative.begin(), relative.end(), '/', kSeparator);
    return relative;
}

fs::path FsPath(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string Utf8Path(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

TempDir::TempDir() {
    std::random_device random;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "tessaro-test-";
        for (int i = 0; i < 6; ++i) name += "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
        std::error_code ec;
        if (fs::create_directory(base / name, ec)) {
            // Only the owner may enter it, as with mkdtemp.
            fs::permissions(base / name, fs::perms::owner_all, fs::perm_options::replace, ec);
            if (ec) throw std::runtime_error("cannot restrict the temp directory: " + ec.message());
            path_ = Utf8Path(base / name);
            return;
        }
        if (ec) throw std::runtime_error("cannot create a temp directory: " + ec.message());
    }
    throw std::runtime_error("no free temp directory name");
}

TempDir::~TempDir() {
    // Tests may leave read-only directories (and on Windows read-only files, which cannot be
    // deleted) behind; make everything writable before removing.
    std::error_code ec;
    const fs::path root = FsPath(path_);
    for (auto it = fs::recursive_directory_iterator(
             root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code entryError;
        if (it->is_symlink(entryError)) continue;
#ifndef _WIN32
        if (!it->is_directory(entryError)) continue;
#endif
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, entryError);
    }
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root, ec);
}

}  // namespace tessaro::testing
