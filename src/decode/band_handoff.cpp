#include "decode/band_handoff.h"

namespace tessaro {

bool BandHandoff::Offer(const TileBand& band) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopped_) return false;
    band_ = &band;
    changed_.notify_all();
    changed_.wait(lock, [&] { return band_ == nullptr || stopped_; });
    band_ = nullptr;
    return !stopped_;
}

void BandHandoff::Finish(ReadOutcome outcome) {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    outcome_ = outcome;
    changed_.notify_all();
}

const TileBand* BandHandoff::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return band_ != nullptr || finished_; });
    return band_;
}

void BandHandoff::Done() {
    std::lock_guard<std::mutex> lock(mutex_);
    band_ = nullptr;
    changed_.notify_all();
}

void BandHandoff::Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
}

ReadOutcome BandHandoff::outcome() {
    std::lock_guard<std::mutex> lock(mutex_);
    return outcome_;
}

}  // namespace tessaro
