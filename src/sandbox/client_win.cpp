// The run's side of a decoding child on Windows: tessaro.exe itself, started in worker mode
// (child_win.h) inside a job object that limits its memory and processor time, lets it start no
// process of its own and ends it when the run lets go of it. It runs with every privilege removed
// from its token and at low integrity where the system allows (confine.h), inherits nothing but
// its end of a message pipe (channel_win.h), the group's tiles (read-only) and the page that
// reports its fill, and has no console.
#include "sandbox/client.h"

#include <chrono>
#include <cstdint>
#include <cwchar>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "os/handle_fd_win.h"
#include "os/unique_handle_win.h"
#include "os/windows_win.h"
#include "sandbox/channel_win.h"
#include "sandbox/client_internal.h"
#include "sandbox/confine.h"
#include "sandbox/protocol.h"
#include "sandbox/test_modes.h"

namespace tessaro {

namespace {

struct Unmap {
    void operator()(FillPage* page) const { UnmapViewOfFile(page); }
};
using PageView = std::unique_ptr<FillPage, Unmap>;

}  // namespace

struct DecoderChild::Process {
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process() {
        // Whatever it was doing, it has nothing left to give: every reply it sent was complete.
        if (job) TerminateJobObject(job.get(), 1);
        if (process) {
            TerminateProcess(process.get(), 1);  // (not yet in the job, if Start failed)
            WaitForSingleObject(process.get(), INFINITE);
        }
    }

    UniqueHandle job;
    UniqueHandle process;
    UniqueHandle pipe;    // this end, for overlapped use
    UniqueHandle ioDone;  // signalled when the pipe's pending read or write has finished
    PageView page;        // where the worker counts its fill
    uint64_t timeoutSeconds = 0;
    bool fillBegun = false;
    uint64_t fillReported = 0;
};

namespace {

using Clock = std::chrono::steady_clock;

uint64_t HandleValue(HANDLE handle) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

PageView MapPage(HANDLE mapping) {
    void* view = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(FillPage));
    return PageView(view == nullptr ? nullptr : new (view) FillPage);
}

// A read-only duplicate of a tile's handle that a child can inherit.
UniqueHandle InheritableReader(int fd) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), HandleOf(fd), GetCurrentProcess(), &copy,
                         FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, TRUE, 0))
        return UniqueHandle();
    return UniqueHandle(copy);
}

std::wstring OwnPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
}

// This process's environment with kWorkerVariable set to `setting`, as CreateProcessW takes it:
// in the system's order (by name, ignoring case), each entry ended by a null, and a null after
// them.
std::wstring WorkerEnvironment(const std::wstring& setting) {
    const std::wstring prefix = std::wstring(kWorkerVariable) + L"=";
    const std::wstring ours = prefix + setting;
    std::wstring block;
    bool placed = false;
    const auto place = [&] {
        block += ours;
        block.push_back(L'\0');
        placed = true;
    };
    if (wchar_t* own = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = own; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
            if (_wcsnicmp(entry, prefix.c_str(), prefix.size()) == 0) continue;
            // (Entries for the drives' current directories start with "=" and stay first.)
            const int nameLength = static_cast<int>(std::wcscspn(entry + 1, L"=") + 1);
            if (!placed && entry[0] != L'=' &&
                CompareStringOrdinal(entry, nameLength, kWorkerVariable, -1, TRUE) == CSTR_GREATER_THAN)
                place();
            block += entry;
            block.push_back(L'\0');
        }
        FreeEnvironmentStringsW(own);
    }
    if (!placed) place();
    block.push_back(L'\0');
    return block;
}

struct AttributeListEnd {
    void operator()(LPPROC_THREAD_ATTRIBUTE_LIST list) const { DeleteProcThreadAttributeList(list); }
};

// Starts tessaro.exe suspended, without a console or standard handles, inheriting `inherited`
// and nothing else: with the restricted token, or with this process's own where the system
// refuses that.
std::optional<PROCESS_INFORMATION> Launch(const std::wstring& exe, std::wstring environment,
                                          std::vector<HANDLE> inherited) {
    SIZE_T bytes = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &bytes);
    std::vector<unsigned char> storage(bytes);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &bytes)) return std::nullopt;
    const std::unique_ptr<_PROC_THREAD_ATTRIBUTE_LIST, AttributeListEnd> listEnd(attributes);
    if (!UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                   inherited.data(), inherited.size() * sizeof(HANDLE), nullptr,
                                   nullptr))
        return std::nullopt;
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;  // all three null: it prints nothing
    startup.lpAttributeList = attributes;
    const DWORD flags = CREATE_SUSPENDED | DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT |
                        EXTENDED_STARTUPINFO_PRESENT;
    PROCESS_INFORMATION started{};
    std::wstring commandLine = L"\"" + exe + L"\"";
    const UniqueHandle token = RestrictedDecoderToken();
    if (token) {
        if (CreateProcessAsUserW(token.get(), exe.c_str(), commandLine.data(), nullptr, nullptr,
                                 TRUE, flags, environment.data(), nullptr, &startup.StartupInfo,
                                 &started))
            return started;
        const DWORD error = GetLastError();
        if (error != ERROR_PRIVILEGE_NOT_HELD && error != ERROR_ACCESS_DENIED) return std::nullopt;
        commandLine = L"\"" + exe + L"\"";
    }
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags,
                        environment.data(), nullptr, &startup.StartupInfo, &started))
        return std::nullopt;
    return started;
}

// Handles are inheritable only while one worker is being started, so that no worker inherits
// another's even where the system does not honour the list of handles to inherit.
std::mutex& LaunchLock() {
    static std::mutex lock;
    return lock;
}

WorkerToken NewToken() {
    std::random_device random;
    WorkerToken token;
    for (uint8_t& byte : token.bytes) byte = static_cast<uint8_t>(random());
    return token;
}

// Sends a request and waits for the reply, for an interrupt (decoding is abandoned, which is
// always safe), or until the worker's time is up; a fill meter hears of the worker's progress
// ten times a second meanwhile. A worker that does not answer in full is ended.
bool AskWorker(DecoderChild::Process& worker, const DecoderRequest& request, DecoderReply* reply,
               FillMeter* meter = nullptr) {
    if (!worker.pipe) return false;
    const auto deadline = Clock::now() + std::chrono::seconds(worker.timeoutSeconds);
    const auto relay = [&] {
        RelayFill(worker.page->mosaicBytes.load(), worker.page->written.load(), meter,
                  &worker.fillBegun, &worker.fillReported);
    };
    const std::function<void()> tick = meter ? std::function<void()>(relay) : nullptr;
    DecoderRequest sent = request;
    if (!Transfer(worker.pipe.get(), worker.ioDone.get(), true, &sent, sizeof sent, deadline,
                  tick) ||
        !Transfer(worker.pipe.get(), worker.ioDone.get(), false, reply, sizeof *reply, deadline,
                  tick)) {
        TerminateJobObject(worker.job.get(), 1);  // died, hung past its time, or no longer wanted
        worker.pipe.reset();
        return false;
    }
    if (meter) relay();
    return true;
}

}  // namespace

void DecoderChild::AtProcessStart() {}  // each worker is a process of its own already

std::optional<DecoderChild> DecoderChild::Start(const std::vector<UniqueFd>& tiles,
                                                const DecoderLimits& limits) {
    if (tiles.size() > kMaxGroupTiles) return std::nullopt;
    const DecoderLimits applied = LimitsForTestMode(limits, DecoderTestMode());
    auto worker = std::make_unique<Process>();
    worker->job = MakeDecoderJob(applied);
    worker->ioDone.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    worker->timeoutSeconds = ReplyTimeoutSeconds(applied);
    const std::wstring exe = OwnPath();
    if (!worker->job || !worker->ioDone || exe.empty()) return std::nullopt;

    WorkerGreeting greeting;
    greeting.token = NewToken();
    greeting.tileCount = static_cast<uint32_t>(tiles.size());
    {
        const std::lock_guard<std::mutex> lock(LaunchLock());
        std::optional<PipeEnds> pipe = MakePipe();
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        const UniqueHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, &inheritable,
                                                      PAGE_READWRITE, 0, sizeof(FillPage), nullptr));
        if (!pipe || !mapping) return std::nullopt;
        worker->page = MapPage(mapping.get());
        if (!worker->page) return std::nullopt;
        std::vector<HANDLE> inherited = {pipe->worker.get(), mapping.get()};
        std::vector<UniqueHandle> readers;
        for (std::size_t i = 0; i < tiles.size(); ++i) {
            if (!tiles[i]) continue;
            readers.push_back(InheritableReader(tiles[i].get()));
            if (!readers.back()) continue;
            inherited.push_back(readers.back().get());
            greeting.tiles[i] = HandleValue(readers.back().get());
        }
        greeting.page = HandleValue(mapping.get());
        const std::wstring setting = WorkerSetting(HandleValue(pipe->worker.get()), greeting.token);
        const std::optional<PROCESS_INFORMATION> started =
            Launch(exe, WorkerEnvironment(setting), std::move(inherited));
        if (!started) return std::nullopt;
        worker->process.reset(started->hProcess);
        const UniqueHandle thread(started->hThread);
        // In the job before it runs a single instruction.
        if (!AssignProcessToJobObject(worker->job.get(), started->hProcess) ||
            ResumeThread(thread.get()) == static_cast<DWORD>(-1))
            return std::nullopt;
        worker->pipe = std::move(pipe->parent);
    }  // this process's copies of the worker's handles close here: the pipe breaks when it ends

    if (!Transfer(worker->pipe.get(), worker->ioDone.get(), true, &greeting, sizeof greeting,
                  Clock::now() + std::chrono::seconds(worker->timeoutSeconds), nullptr))
        return std::nullopt;
    return DecoderChild(std::move(worker));
}

DecoderChild::DecoderChild(std::unique_ptr<Process> process) : process_(std::move(process)) {}

DecoderChild::DecoderChild(DecoderChild&& other) noexcept = default;

DecoderChild::~DecoderChild() = default;  // process_ ends the worker

std::optional<TileSize> DecoderChild::Measure(std::size_t index) {
    DecoderReply reply{};
    if (!process_ || !AskWorker(*process_, MeasureRequest(index), &reply)) return std::nullopt;
    return MeasuredSize(reply);
}

FillOutcome DecoderChild::Fill(const TileLayout& layout, const BmpFile& canvas,
                               const DecoderLimits& limits, FillMeter* meter) {
    if (!process_ || !process_->pipe) return FillOutcome::readFailed;
    Process& worker = *process_;
    const DecoderLimits applied = LimitsForTestMode(limits, DecoderTestMode());
    SetDecoderJobLimits(worker.job.get(), applied);  // else it keeps the measuring limits
    worker.timeoutSeconds = ReplyTimeoutSeconds(applied);
    // The worker gets the file for writing its pixels and nothing more: it can neither rename
    // nor delete it.
    HANDLE inWorker = nullptr;
    if (!canvas.fd || !DuplicateHandle(GetCurrentProcess(), HandleOf(canvas.fd.get()),
                                       worker.process.get(), &inWorker,
                                       FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                       FALSE, 0))
        return FillOutcome::readFailed;
    DecoderReply reply{};
    if (!AskWorker(worker, FillRequest(layout, false, HandleValue(inWorker)), &reply, meter))
        return FillOutcome::readFailed;
    return FillResult(reply);
}

}  // namespace tessaro
