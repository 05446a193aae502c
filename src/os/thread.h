// A thread started for one piece of work and joined when it is done.
#pragma once

#include <memory>

namespace tessaro {

class WorkThread {
public:
    WorkThread();
    ~WorkThread();  // joins
    WorkThread(const WorkThread&) = delete;
    WorkThread& operator=(const WorkThread&) = delete;

    // Runs work(arg) on a new thread; false when the system has no thread to give (nothing runs
    // then, and the caller does the work itself). Unlike std::thread, running out of threads is
    // an answer here, not an exception.
    bool Start(void (*work)(void*), void* arg);

    // Waits for the work to end (at once when none was started).
    void Join();

    struct Handle;  // the system's thread and the work it runs

private:
    std::unique_ptr<Handle> handle_;  // while a thread runs
};

}  // namespace tessaro
