// The decoding child on Windows: tessaro.exe itself, started in worker mode (decoder_worker.h)
// inside a job object that limits its memory and processor time, lets it start no process of its
// own and ends it when the parent lets go of it. It runs with every privilege removed from its
// token and at low integrity where the system allows, inherits nothing but its end of a message
// pipe, the group's tiles (read-only) and the page that reports its fill, and has no console.
#include "sandbox/decoder_client.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "sandbox/channel_win.h"
#include "sandbox/decoder_service.h"
#include "os/handle_fd_win.h"
#include "os/interrupt.h"
#include "os/unique_handle_win.h"
#include "os/windows_win.h"
#include "decode/fill_meter.h"

namespace tessaro {

namespace {

struct Unmap {
    void operator()(FillPage* page) const { UnmapViewOfFile(page); }
};
using PageView = std::unique_ptr<FillPage, Unmap>;

// What this process holds of one worker.
struct WorkerState {
    UniqueHandle job;
    UniqueHandle process;
    UniqueHandle pipe;    // this end, for overlapped use
    UniqueHandle ioDone;  // signalled when the pipe's pending read or write has finished
    PageView page;        // where the worker counts its fill
    uint64_t timeoutSeconds = 0;
    bool fillBegun = false;
    uint64_t fillReported = 0;
};

}  // namespace

struct DecoderChild::Worker : WorkerState {};

void DecoderChild::EndWorker::operator()(Worker* worker) const {
    // Whatever it was doing, it has nothing left to give: every reply it sent was complete.
    if (worker->job) TerminateJobObject(worker->job.get(), 1);
    if (worker->process) {
        TerminateProcess(worker->process.get(), 1);  // (not yet in the job, if Start failed)
        WaitForSingleObject(worker->process.get(), INFINITE);
    }
    delete worker;
}

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kPipeBufferBytes = 4096;
constexpr LONGLONG kTicksPerSecond = 10'000'000;  // of 100 ns

uint64_t HandleValue(HANDLE handle) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

bool SetJobLimits(HANDLE job, const DecoderLimits& limits) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
    JOBOBJECT_BASIC_LIMIT_INFORMATION& basic = info.BasicLimitInformation;
    basic.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                       JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION |
                       JOB_OBJECT_LIMIT_ACTIVE_PROCESS;
    basic.ActiveProcessLimit = 1;
    if (limits.addressSpaceBytes > 0) {
        basic.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY;
        info.ProcessMemoryLimit = static_cast<SIZE_T>(limits.addressSpaceBytes);
    }
    if (limits.cpuSeconds > 0) {
        basic.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_TIME;
        basic.PerProcessUserTimeLimit.QuadPart =
            static_cast<LONGLONG>(std::min<uint64_t>(limits.cpuSeconds, 1u << 30)) * kTicksPerSecond;
    }
    return SetInformationJobObject(job, JobObjectExtendedLimitInformation, &info, sizeof info);
}

UniqueHandle MakeJob(const DecoderLimits& limits) {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job || !SetJobLimits(job.get(), limits)) return UniqueHandle();
    // Nor any use of the desktop, the clipboard or system settings, where the system can refuse it.
    JOBOBJECT_BASIC_UI_RESTRICTIONS ui{};
    ui.UIRestrictionsClass = JOB_OBJECT_UILIMIT_DESKTOP | JOB_OBJECT_UILIMIT_DISPLAYSETTINGS |
                             JOB_OBJECT_UILIMIT_EXITWINDOWS | JOB_OBJECT_UILIMIT_GLOBALATOMS |
                             JOB_OBJECT_UILIMIT_HANDLES | JOB_OBJECT_UILIMIT_READCLIPBOARD |
                             JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS | JOB_OBJECT_UILIMIT_WRITECLIPBOARD;
    SetInformationJobObject(job.get(), JobObjectBasicUIRestrictions, &ui, sizeof ui);
    return job;
}

// This process's token without its privileges, at low integrity where the system allows (so the
// worker cannot open a file for writing); empty when no such token can be made.
UniqueHandle RestrictedToken() {
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(),
                          TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT,
                          &own))
        return UniqueHandle();
    const UniqueHandle ownToken(own);
    HANDLE restricted = nullptr;
    if (!CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE, 0, nullptr, 0, nullptr, 0, nullptr,
                               &restricted))
        return UniqueHandle();
    UniqueHandle token(restricted);
    SID_IDENTIFIER_AUTHORITY labels = SECURITY_MANDATORY_LABEL_AUTHORITY;
    PSID low = nullptr;
    if (AllocateAndInitializeSid(&labels, 1, SECURITY_MANDATORY_LOW_RID, 0, 0, 0, 0, 0, 0, 0,
                                 &low)) {
        TOKEN_MANDATORY_LABEL label{};
        label.Label.Attributes = SE_GROUP_INTEGRITY;
        label.Label.Sid = low;
        SetTokenInformation(token.get(), TokenIntegrityLevel, &label,
                            static_cast<DWORD>(sizeof label + GetLengthSid(low)));
        FreeSid(low);
    }
    return token;
}

struct PipeEnds {
    UniqueHandle parent;  // the server end, for overlapped use
    UniqueHandle worker;  // the client end, inheritable
};

// A message pipe of one instance under a fresh name, its server end connected to a client end
// this process opened itself (checked, so nobody else got there first).
std::optional<PipeEnds> MakePipe() {
    static std::atomic<unsigned> serial{0};
    std::random_device random;
    wchar_t name[96];
    std::swprintf(name, sizeof name / sizeof name[0], L"\\\\.\\pipe\\tessaro-decoder-%lu-%u-%08x%08x",
                  static_cast<unsigned long>(GetCurrentProcessId()), serial.fetch_add(1),
                  static_cast<unsigned>(random()), static_cast<unsigned>(random()));
    PipeEnds ends;
    ends.parent.reset(CreateNamedPipeW(
        name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        kPipeBufferBytes, kPipeBufferBytes, 0, nullptr));
    if (!ends.parent) return std::nullopt;
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    ends.worker.reset(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, &inheritable,
                                  OPEN_EXISTING, 0, nullptr));
    ULONG client = 0;
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!ends.worker || !GetNamedPipeClientProcessId(ends.parent.get(), &client) ||
        client != GetCurrentProcessId() ||
        !SetNamedPipeHandleState(ends.worker.get(), &mode, nullptr, nullptr))
        return std::nullopt;
    return ends;
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
    const UniqueHandle token = RestrictedToken();
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

// Writes or reads one whole message on the parent's end of the pipe, waiting no later than
// `deadline` and no longer than until an interrupt; `tick`, if set, runs ten times a second
// meanwhile. False when the message did not go through whole (then the transfer is cancelled).
bool Transfer(HANDLE pipe, HANDLE done, bool write, void* data, DWORD size,
              Clock::time_point deadline, const std::function<void()>& tick) {
    OVERLAPPED io{};
    io.hEvent = done;
    const BOOL started = write ? WriteFile(pipe, data, size, nullptr, &io)
                               : ReadFile(pipe, data, size, nullptr, &io);
    if (!started && GetLastError() != ERROR_IO_PENDING) return false;
    const HANDLE interrupt = static_cast<HANDLE>(InterruptEvent());
    const HANDLE waits[2] = {done, interrupt};
    DWORD woke = WAIT_TIMEOUT;
    while (woke == WAIT_TIMEOUT) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        const DWORD slice = static_cast<DWORD>(std::min<int64_t>(tick ? 100 : INFINITE - 1, left.count()));
        woke = WaitForMultipleObjects(interrupt ? 2 : 1, waits, FALSE, slice);
        if (woke == WAIT_TIMEOUT && tick) tick();
    }
    DWORD moved = 0;
    if (woke != WAIT_OBJECT_0) {
        // The buffer and the OVERLAPPED must outlive the transfer: wait for the cancellation.
        CancelIoEx(pipe, &io);
        GetOverlappedResult(pipe, &io, &moved, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, &io, &moved, FALSE) && moved == size;
}

// Sends a request and waits for the reply, for an interrupt (decoding is abandoned, which is
// always safe), or until the worker's time is up; a fill meter hears of the worker's progress
// ten times a second meanwhile. A worker that does not answer in full is ended.
bool AskWorker(WorkerState& worker, const WorkerRequest& request, DecoderReply* reply,
               FillMeter* meter = nullptr) {
    if (!worker.pipe) return false;
    const auto deadline = Clock::now() + std::chrono::seconds(worker.timeoutSeconds);
    const auto relay = [&] {
        RelayFill(worker.page->mosaicBytes.load(), worker.page->written.load(), meter,
                  &worker.fillBegun, &worker.fillReported);
    };
    const std::function<void()> tick = meter ? std::function<void()>(relay) : nullptr;
    WorkerRequest sent = request;
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
    if (tiles.size() > kMaxWorkerTiles) return std::nullopt;
    const DecoderLimits applied = LimitsForTestMode(limits, DecoderTestMode());
    std::unique_ptr<Worker, EndWorker> worker(new Worker);
    worker->job = MakeJob(applied);
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

DecoderChild::DecoderChild(std::unique_ptr<Worker, EndWorker> worker) : worker_(std::move(worker)) {}

DecoderChild::DecoderChild(DecoderChild&& other) noexcept : worker_(std::move(other.worker_)) {}

DecoderChild::~DecoderChild() = default;  // worker_ ends the worker

std::optional<TileSize> DecoderChild::Measure(std::size_t index) {
    WorkerRequest request;
    request.request.op = DecoderOp::measure;
    request.request.index = static_cast<uint32_t>(index);
    DecoderReply reply{};
    if (!worker_ || !AskWorker(*worker_, request, &reply) || !reply.ok) return std::nullopt;
    return reply.size;
}

FillOutcome DecoderChild::Fill(const TileLayout& layout, const BmpFile& canvas,
                               const DecoderLimits& limits, FillMeter* meter) {
    if (!worker_ || !worker_->pipe) return FillOutcome::readFailed;
    const DecoderLimits applied = LimitsForTestMode(limits, DecoderTestMode());
    SetJobLimits(worker_->job.get(), applied);  // else it keeps the measuring limits
    worker_->timeoutSeconds = ReplyTimeoutSeconds(applied);
    // The worker gets the file for writing its pixels and nothing more: it can neither rename
    // nor delete it.
    HANDLE inWorker = nullptr;
    if (!canvas.fd || !DuplicateHandle(GetCurrentProcess(), HandleOf(canvas.fd.get()),
                                       worker_->process.get(), &inWorker,
                                       FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                       FALSE, 0))
        return FillOutcome::readFailed;
    WorkerRequest request;
    request.request.op = DecoderOp::fill;
    request.request.layout = layout;
    request.canvas = HandleValue(inWorker);
    DecoderReply reply{};
    if (!AskWorker(*worker_, request, &reply, meter) || !reply.ok) return FillOutcome::readFailed;
    return reply.outcome;
}

}  // namespace tessaro
