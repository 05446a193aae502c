// Interrupts (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl-C, Ctrl-Break and the console's closing)
// end a run without cutting a step short: the handler only records the interrupt and wakes
// whoever waits on InterruptFd() (InterruptEvent() on Windows); the run stops starting groups,
// abandons decoding (which is always safe), lets every save and deletion in progress finish, and
// then dies of the same signal (on Windows it ends with STATUS_CONTROL_C_EXIT), so its caller
// sees how it ended.
#pragma once

namespace tessaro {

// Installs the handlers. Call once, before any thread is started.
void CatchInterrupts();

// The interrupting signal, or 0 while there is none (on Windows SIGINT for Ctrl-C, SIGBREAK for
// Ctrl-Break, SIGTERM for the console's closing).
int InterruptSignal();

#ifdef _WIN32
// A manual-reset event (a HANDLE) set once an interrupt came (null before CatchInterrupts): wait
// on it beside whatever is waited for. It stays set; never reset it.
void* InterruptEvent();
#else
// A descriptor that becomes readable once an interrupt came (-1 before CatchInterrupts): poll it
// beside whatever is waited for. It stays readable; never read from it.
int InterruptFd();
#endif

// After an interrupt: restores the signal's default action and raises it again (so the process
// ends by it; on Windows it flushes the C streams and exits with STATUS_CONTROL_C_EXIT). Does
// nothing without an interrupt.
void ResignalIfInterrupted();

// The processors this process may run on (at least 1): its CPU affinity, within its control
// group's CPU quota.
int UsableCpus();

// How many descriptors this process may have open at once (its soft limit on Linux; what the C
// runtime gives on Windows).
int DescriptorLimit();

// True when errno says the process or the system has run out of descriptors (EMFILE, ENFILE).
bool OutOfDescriptors();

}  // namespace tessaro
