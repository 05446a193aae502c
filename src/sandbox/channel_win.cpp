#include "sandbox/channel_win.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <random>

#include "os/interrupt.h"

namespace tessaro {

namespace {

constexpr wchar_t kDigits[] = L"0123456789abcdef";
constexpr DWORD kPipeBufferBytes = 4096;

int DigitValue(wchar_t c) {
    for (int value = 0; value < 16; ++value)
        if (kDigits[value] == c) return value;
    return -1;
}

}  // namespace

std::wstring WorkerSetting(uint64_t pipe, const WorkerToken& token) {
    std::wstring setting = std::to_wstring(pipe) + L":";
    for (uint8_t byte : token.bytes) {
        setting.push_back(kDigits[byte >> 4]);
        setting.push_back(kDigits[byte & 15]);
    }
    return setting;
}

std::optional<WorkerChannelName> ParseWorkerSetting(const std::wstring& setting) {
    const std::size_t colon = setting.find(L':');
    if (colon == 0 || colon > 20 || setting.size() != colon + 1 + 2 * kWorkerTokenBytes)
        return std::nullopt;
    WorkerChannelName name;
    for (std::size_t i = 0; i < colon; ++i) {
        const int digit = DigitValue(setting[i]);
        if (digit < 0 || digit > 9 || name.pipe > (UINT64_MAX - 9) / 10) return std::nullopt;
        name.pipe = name.pipe * 10 + static_cast<uint64_t>(digit);
    }
    for (std::size_t i = 0; i < kWorkerTokenBytes; ++i) {
        const int high = DigitValue(setting[colon + 1 + 2 * i]);
        const int low = DigitValue(setting[colon + 2 + 2 * i]);
        if (high < 0 || low < 0) return std::nullopt;
        name.token.bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return name;
}

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

bool Transfer(HANDLE pipe, HANDLE done, bool write, void* data, DWORD size,
              std::chrono::steady_clock::time_point deadline, const std::function<void()>& tick) {
    OVERLAPPED io{};
    io.hEvent = done;
    // The event is shared by every transfer of this pipe: one the last transfer left set must not
    // pass for this one's end (Wine does not always reset it as the transfer starts).
    ResetEvent(done);
    const BOOL started = write ? WriteFile(pipe, data, size, nullptr, &io)
                               : ReadFile(pipe, data, size, nullptr, &io);
    if (!started && GetLastError() != ERROR_IO_PENDING) return false;
    const HANDLE interrupt = static_cast<HANDLE>(InterruptEvent());
    const HANDLE waits[2] = {done, interrupt};
    DWORD woke = WAIT_TIMEOUT;
    while (woke == WAIT_TIMEOUT) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        const DWORD slice =
            static_cast<DWORD>(std::min<int64_t>(tick ? 100 : INFINITE - 1, left.count()));
        woke = WaitForMultipleObjects(interrupt ? 2 : 1, waits, FALSE, slice);
        // Woken by the event while the transfer is still under way: it was not this one's end.
        if (woke == WAIT_OBJECT_0 && !HasOverlappedIoCompleted(&io)) {
            ResetEvent(done);
            if (!HasOverlappedIoCompleted(&io)) woke = WAIT_TIMEOUT;
        }
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

}  // namespace tessaro
