#include "app/status_line.h"

#include <algorithm>
#include <cstdio>

#include "app/console.h"

namespace tessaro {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string Format(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Duration(double seconds) {
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

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

std::string ProgressText(const RunProgress& progress, double seconds) {
    uint64_t mosaicBytes = 0;
    uint64_t written = 0;
    for (const GroupMeter& group : progress.inFlight) {
        mosaicBytes += group.mosaicBytes;
        written += group.written;
    }
    const int percent = mosaicBytes > 0 ? static_cast<int>(written * 100 / mosaicBytes) : 0;
    const uint64_t read = TileBytesRead(progress);
    const double rate = seconds > 0 ? static_cast<double>(read) / seconds : 0;
    const uint64_t left = progress.tileBytesTotal > read ? progress.tileBytesTotal - read : 0;
    return "组 " + std::to_string(progress.groupNumber) + "/" + std::to_string(progress.groupTotal) +
           "  " + std::to_string(percent) + "%  " + Format("%.1f MB/s", rate / 1e6) + "  剩余 " +
           (rate > 0 ? Duration(static_cast<double>(left) / rate) : std::string("--:--"));
}

std::string SummaryText(const RunTally& tally, double seconds) {
    return "完成: 成功 " + std::to_string(tally.saved) + " 组, 失败 " + std::to_string(tally.failed) +
           " 组, 删除 " + std::to_string(tally.tilesDeleted) + " 个tif文件, 用时 " +
           Format("%.1f", seconds) + " 秒\n";
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
