#include <signal.h>

#include <atomic>
#include <cerrno>
#include <bit>
#include <cstdio>

#include "os/interrupt.h"
#include "os/windows_win.h"

namespace tessaro {

namespace {

// How a run that was interrupted ends, as a console program killed by Ctrl-C does.
constexpr UINT kControlCExit = 0xC000013A;  // STATUS_CONTROL_C_EXIT

std::atomic<int> g_signal{0};
HANDLE g_event = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    int signal = 0;
    switch (event) {
        case CTRL_C_EVENT: signal = SIGINT; break;
        case CTRL_BREAK_EVENT: signal = SIGBREAK; break;
        case CTRL_CLOSE_EVENT: signal = SIGTERM; break;
        default: return FALSE;  // logoff and shutdown: the default handling
    }
    int expected = 0;
    if (g_signal.compare_exchange_strong(expected, signal)) SetEvent(g_event);
    // Once this returns from a close, Windows ends the process (after a few seconds at most):
    // the handler waits here instead, while the run finishes its step and exits by itself.
    if (event == CTRL_CLOSE_EVENT) Sleep(INFINITE);
    return TRUE;
}

}  // namespace

void CatchInterrupts() {
    g_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_event == nullptr) return;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int InterruptSignal() { return g_signal.load(); }

void* InterruptEvent() { return g_event; }

void ResignalIfInterrupted() {
    if (g_signal.load() == 0) return;
    std::fflush(nullptr);
    ExitProcess(kControlCExit);
}

// The C runtime's own table of descriptors; handles themselves are plenty.
int DescriptorLimit() { return 2048; }

bool OutOfDescriptors() { return errno == EMFILE || errno == ENFILE; }

int UsableCpus() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 1;
    const int count = std::popcount(static_cast<uint64_t>(process));
    return count > 0 ? count : 1;
}

}  // namespace tessaro
