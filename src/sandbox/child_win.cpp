#include "sandbox/child_win.h"

#include <optional>
#include <string>
#include <vector>

#include "os/handle_fd_win.h"
#include "os/unique_handle_win.h"
#include "os/windows_win.h"
#include "sandbox/channel_win.h"
#include "sandbox/child.h"
#include "sandbox/protocol.h"
#include "sandbox/test_modes.h"

namespace tessaro {

namespace {

HANDLE FromValue(uint64_t value) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)); }

bool IsStandardHandle(HANDLE handle) {
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        if (GetStdHandle(which) == handle) return true;
    return false;
}

// What kWorkerVariable names, when it names the client end of a message pipe whose server end
// another process holds, and none of this process's standard handles.
std::optional<WorkerChannelName> FindChannel() {
    wchar_t value[64];
    const DWORD length = GetEnvironmentVariableW(kWorkerVariable, value, 64);
    if (length == 0 || length >= 64) return std::nullopt;
    const std::optional<WorkerChannelName> name = ParseWorkerSetting(std::wstring(value, length));
    if (!name) return std::nullopt;
    const HANDLE pipe = FromValue(name->pipe);
    DWORD flags = 0;
    ULONG server = 0;
    if (pipe == nullptr || IsStandardHandle(pipe) || GetFileType(pipe) != FILE_TYPE_PIPE ||
        !GetNamedPipeInfo(pipe, &flags, nullptr, nullptr, nullptr) ||
        (flags & PIPE_SERVER_END) != 0 || (flags & PIPE_TYPE_MESSAGE) == 0 ||
        !GetNamedPipeServerProcessId(pipe, &server) || server == GetCurrentProcessId())
        return std::nullopt;
    return name;
}

bool ReadMessage(HANDLE pipe, void* data, DWORD size) {
    DWORD got = 0;
    return ReadFile(pipe, data, size, &got, nullptr) && got == size;
}

bool WriteMessage(HANDLE pipe, const void* data, DWORD size) {
    DWORD put = 0;
    return WriteFile(pipe, data, size, &put, nullptr) && put == size;
}

// A descriptor for a file handle this process was given; empty for anything but a file on disk.
UniqueFd FileFd(uint64_t value, int flags) {
    const HANDLE file = FromValue(value);
    if (file == nullptr || GetFileType(file) != FILE_TYPE_DISK) return UniqueFd();
    return FdOf(UniqueHandle(file), flags | _O_BINARY);
}

// A crash ends the worker at once, with the exception's code for its exit status: no dialog, no
// error report, no debugger, whatever the system is set up to do with crashes.
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* crash) {
    TerminateProcess(GetCurrentProcess(), crash->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

struct Unmap {
    void operator()(FillPage* page) const { UnmapViewOfFile(page); }
};

// The worker's fill meter: counts into the page its parent reads.
class PageMeter final : public FillMeter {
public:
    explicit PageMeter(FillPage* page) : page_(page) {}
    void Begin(uint64_t mosaicBytes) override { page_->mosaicBytes.store(mosaicBytes); }
    void Add(uint64_t bytes) override { page_->written.fetch_add(bytes, std::memory_order_relaxed); }

private:
    FillPage* page_;
};

void Serve(HANDLE pipe, const std::vector<UniqueFd>& tiles, FillPage* page) {
    const std::string_view mode = DecoderTestMode();
    PageMeter meter(page);
    for (bool first = true;; first = false) {
        DecoderRequest request{};
        if (!ReadMessage(pipe, &request, sizeof request)) return;  // the parent is done
        if (first) MisbehaveForTest(mode);
        UniqueFd canvas = request.op == DecoderOp::fill ? FileFd(request.canvas, 0) : UniqueFd();
        const DecoderReply reply = AnswerRequest(request, tiles, std::move(canvas), &meter, mode);
        if (!WriteMessage(pipe, &reply, sizeof reply)) return;
    }
}

}  // namespace

bool RunDecoderWorkerIfAsked() {
    const std::optional<WorkerChannelName> name = FindChannel();
    if (!name) return false;
    const HANDLE pipe = FromValue(name->pipe);
    WorkerGreeting greeting;
    if (!ReadMessage(pipe, &greeting, sizeof greeting) || !(greeting.token == name->token) ||
        greeting.tileCount > kMaxGroupTiles)
        return false;  // not started by DecoderChild::Start after all
    const UniqueHandle ownedPipe(pipe);
    SetEnvironmentVariableW(kWorkerVariable, nullptr);
    // A crash ends the worker quietly; its parent reports the group.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndOnCrash);
    const UniqueHandle mapping(FromValue(greeting.page));
    const std::unique_ptr<FillPage, Unmap> page(static_cast<FillPage*>(
        MapViewOfFile(mapping.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(FillPage))));
    if (!page) return true;
    std::vector<UniqueFd> tiles;
    for (uint32_t i = 0; i < greeting.tileCount; ++i)
        tiles.push_back(FileFd(greeting.tiles[i], _O_RDONLY));
    Serve(pipe, tiles, page.get());
    return true;
}

}  // namespace tessaro
