#include "temp_dir.h"

#include "os/wide_text_win.h"
#include "os/windows_win.h"

namespace tessaro::testing {

// The C runtime's directory listing, which std::filesystem uses here, lists no directory whose
// path is longer than MAX_PATH; the system's own listing has no such limit.
void RemoveTempTree(const std::string& path) {
    const std::wstring at = ApiPath(path);
    const DWORD attributes = GetFileAttributesW(at.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(at.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(at.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {  // a link goes, not what it names
        WIN32_FIND_DATAW entry;
        const HANDLE search = FindFirstFileW(ApiPath(path + "\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = entry.cFileName;
                if (name != L"." && name != L"..") RemoveTempTree(path + "\\" + Utf8FromWide(name));
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
    }
    RemoveDirectoryW(at.c_str());
}

}  // namespace tessaro::testing
