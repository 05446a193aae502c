#include "run_binary.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cwctype>
#include <map>
#include <memory>
#include <thread>

#include "windows_test_win.h"

namespace tessaro::testing {

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// The tessaro.exe built beside these tests: TESSARO_BINARY_FROM_TESTS is its path relative to
// the test program's directory (the build's own paths are the building system's, not this one's).
std::wstring BinaryPath() {
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    self.erase(self.find_last_of(L'\\') + 1);
    std::wstring relative = Wide(TESSARO_BINARY_FROM_TESTS);
    std::replace(relative.begin(), relative.end(), L'/', L'\\');
    return self + relative;
}

// An argument quoted so that CommandLineToArgvW and the C runtime read it back unchanged.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    for (auto it = arg.begin();; ++it) {
        std::size_t backslashes = 0;
        for (; it != arg.end() && *it == L'\\'; ++it) ++backslashes;
        if (it == arg.end()) {
            out.append(2 * backslashes, L'\\');  // they precede the closing quote
            break;
        }
        out.append(*it == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        out += *it;
    }
    return out + L'"';
}

std::wstring UpperName(const std::wstring& var) {
    std::wstring name = var.substr(0, var.find(L'=', 1));  // "=C:=C:\dir" names "=C:"
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
    return name;
}

// The test's own environment with `extra` ("NAME=value") added or replacing, sorted by name as
// Windows keeps it, as a block of strings ending in an empty one.
std::wstring EnvironmentBlock(const std::vector<std::string>& extra) {
    std::map<std::wstring, std::wstring> vars;
    if (wchar_t* own = GetEnvironmentStringsW()) {
        for (const wchar_t* var = own; *var != L'\0'; var += wcslen(var) + 1) vars[UpperName(var)] = var;
        FreeEnvironmentStringsW(own);
    }
    for (const std::string& var : extra) vars[UpperName(Wide(var))] = Wide(var);
    std::wstring block;
    for (const auto& [name, var] : vars) block += var + L'\0';
    return block + L'\0';
}

struct Pipe {
    UniqueHandle read;
    UniqueHandle write;  // inheritable
};

Pipe MakePipe() {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &inheritable, 0)) throw std::runtime_error("CreatePipe failed");
    Pipe pipe{UniqueHandle(read), UniqueHandle(write)};
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    return pipe;
}

void ReadAll(HANDLE from, std::string* into) {
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(from, buffer, sizeof buffer, &got, nullptr) && got > 0) into->append(buffer, got);
}

bool AsksForLinuxOnly(const RunOptions& o) {
    return o.memoryLimitBytes > 0 || o.fileSizeLimitBytes > 0 || o.openFilesLimit > 0 || o.uid >= 0 ||
           o.gid >= 0 || o.cpus > 0 || o.killAfterMicroseconds > 0 || !o.pauseAt.empty() ||
           o.terminal != Terminal::none;
}

}  // namespace

bool RunsWrapped() { return false; }

RunResult RunTessaro(const std::vector<std::string>& args, const RunOptions& options) {
    RunResult result;
    if (AsksForLinuxOnly(options)) {
        ADD_FAILURE() << "RunTessaro on Windows takes only env, workingDir and timeoutSeconds";
        return result;
    }
    const std::wstring program = BinaryPath();
    std::wstring commandLine = L"\"" + program + L"\"";
    for (const std::string& arg : args) commandLine += L" " + Quoted(Wide(arg));
    std::wstring environment = EnvironmentBlock(options.env);
    const std::wstring workingDir = Wide(options.workingDir);

    Pipe out = MakePipe();
    Pipe err = MakePipe();
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    UniqueHandle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                 OPEN_EXISTING, 0, nullptr));
    // The child inherits its three standard handles and nothing else.
    HANDLE inherited[] = {nul.get(), out.write.get(), err.write.get()};
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<char> listBytes(listSize);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBytes.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &listSize) ||
        !UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   sizeof inherited, nullptr, nullptr))
        throw std::runtime_error("cannot list the handles to inherit");
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nul.get();
    startup.StartupInfo.hStdOutput = out.write.get();
    startup.StartupInfo.hStdError = err.write.get();
    startup.lpAttributeList = list;

    const auto start = std::chrono::steady_clock::now();
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(
        program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
        CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW,
        environment.data(), workingDir.empty() ? nullptr : workingDir.c_str(), &startup.StartupInfo,
        &process);
    const DWORD startError = GetLastError();
    DeleteProcThreadAttributeList(list);
    if (!started) {
        ADD_FAILURE() << "cannot start " << ::testing::PrintToString(program) << ": error " << startError;
        return result;
    }
    UniqueHandle processHandle(process.hProcess);
    CloseHandle(process.hThread);
    // Only the child may hold the pipes' writing ends now, so reading ends when it is gone.
    out.write.reset();
    err.write.reset();
    nul.reset();
    std::thread outReader(ReadAll, out.read.get(), &result.out);
    std::thread errReader(ReadAll, err.read.get(), &result.err);
    const DWORD timeout = static_cast<DWORD>(std::max(options.timeoutSeconds, 1)) * 1000;
    if (WaitForSingleObject(processHandle.get(), timeout) == WAIT_TIMEOUT) {
        result.timedOut = true;
        TerminateProcess(processHandle.get(), 1);
        WaitForSingleObject(processHandle.get(), INFINITE);
    }
    outReader.join();
    errReader.join();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    DWORD code = 0;
    GetExitCodeProcess(processHandle.get(), &code);
    result.exitCode = static_cast<int>(code);
    return result;
}

}  // namespace tessaro::testing
