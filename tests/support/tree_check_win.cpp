#include "tree_check.h"

#include <algorithm>

#include "os/wide_text_win.h"
#include "os/windows_win.h"
#include "windows_test_win.h"

namespace tessaro::testing {

std::vector<std::string> ListNames(const std::string& dir) {
    // The system's own listing: the C runtime's, which std::filesystem uses here, takes no path
    // longer than MAX_PATH.
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW(ApiPath(dir + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot list " << dir << ": error " << GetLastError();
        return names;
    }
    do {
        const std::string name = Utf8FromWide(entry.cFileName);
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::string Printed(const std::string& utf8) { return Redirected(utf8); }

bool RunsSlowed() {
    // Only Wine's ntdll has this export.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace tessaro::testing
