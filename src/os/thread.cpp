#include "os/thread.h"

#include <pthread.h>

#include <memory>

namespace tessaro {

struct WorkThread::Handle {
    pthread_t thread;
    void (*work)(void*);
    void* arg;
};

namespace {

void* RunWork(void* handle) {
    auto* h = static_cast<WorkThread::Handle*>(handle);
    h->work(h->arg);
    return nullptr;
}

}  // namespace

WorkThread::WorkThread() = default;

WorkThread::~WorkThread() { Join(); }

bool WorkThread::Start(void (*work)(void*), void* arg) {
    Join();
    auto handle = std::make_unique<Handle>(Handle{{}, work, arg});
    if (pthread_create(&handle->thread, nullptr, RunWork, handle.get()) != 0) return false;
    handle_ = std::move(handle);
    return true;
}

void WorkThread::Join() {
    if (!handle_) return;
    pthread_join(handle_->thread, nullptr);
    handle_.reset();
}

}  // namespace tessaro
