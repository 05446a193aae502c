// Interrupts (SIGINT, SIGTERM, SIGHUP) end a run without cutting a step short: the handler only
// records the signal and wakes whoever waits on InterruptFd(); the run stops starting groups,
// abandons decoding (which is always safe), lets every save and deletion in progress finish, and
// then dies of the same signal, so its caller sees how it ended.
#pragma once

namespace tessaro {

// Installs the handlers. Call once, before any thread is started.
void CatchInterrupts();

// The interrupting signal, or 0 while there is none.
int InterruptSignal();

// A descriptor that becomes readable once an interrupt came (-1 before CatchInterrupts): poll it
// beside whatever is waited for. It stays readable; never read from it.
int InterruptFd();

#ifdef _WIN32
// A manual-reset event that is set once an interrupt came (null before CatchInterrupts): wait on
// it beside whatever is waited for. Never reset it.
void* InterruptEvent();
#endif

// After an interrupt: restores the signal's default action and raises it again (so the process
// ends by it). Does nothing without an interrupt.
void ResignalIfInterrupted();

// The processors this process may run on (at least 1).
int UsableCpus();

}  // namespace tessaro
