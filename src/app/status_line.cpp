#include "app/status_line.h"

#include <algorithm>

#include "app/console.h"
#include "app/messages.h"

namespace tessaro {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

uint64_t TileBytesRead(const RunProgress& progress) {
    uint64_t read = progress.tileBytesFinished;
    for (const GroupMeter& group : progress.inFlight)
        if (group.mosaicBytes > 0)
            read += static_cast<uint64_t>(static_cast<double>(group.tileBytes) *
                                          static_cast<double>(group.written) /
                                          static_cast<double>(group.mosaicBytes));
    return read;
}

StatusLine::StatusLine(int groupTotal, uint64_t tileBytesTotal)
    : start_(Clock::now()), nextDraw_(start_) {
    progress_.groupTotal = groupTotal;
    progress_.tileBytesTotal = tileBytesTotal;
}

std::size_t StatusLine::StartGroup(int group, uint64_t tileBytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    progress_.groupNumber = std::max(progress_.groupNumber, group);
    std::size_t slot = 0;
    while (slot < slotUsed_.size() && slotUsed_[slot]) ++slot;
    if (slot == slotUsed_.size()) {
        slotUsed_.push_back(false);
        progress_.inFlight.emplace_back();
    }
    slotUsed_[slot] = true;
    progress_.inFlight[slot] = GroupMeter{tileBytes, 0, 0};
    MaybeDraw();
    return slot;
}

void StatusLine::FinishGroup(std::size_t slot) {
    const std::lock_guard<std::mutex> lock(mutex_);
    progress_.tileBytesFinished += progress_.inFlight[slot].tileBytes;
    progress_.inFlight[slot] = GroupMeter{};
    slotUsed_[slot] = false;
}

void StatusLine::Begin(std::size_t slot, uint64_t mosaicBytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    progress_.inFlight[slot].mosaicBytes = mosaicBytes;
    progress_.inFlight[slot].written = 0;
    MaybeDraw();
}

void StatusLine::Add(std::size_t slot, uint64_t bytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    progress_.inFlight[slot].written += bytes;
    MaybeDraw();
}

double StatusLine::Seconds() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
}

void StatusLine::MaybeDraw() {
    const Clock::time_point now = Clock::now();
    if (now < nextDraw_) return;
    nextDraw_ = now + kRedrawInterval;
    ShowStatus(ProgressText(progress_, std::chrono::duration<double>(now - start_).count()));
}

}  // namespace tessaro
