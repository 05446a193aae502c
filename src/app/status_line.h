// Live progress on a terminal: the status line during each group, and the run's summary.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "decode/fill_meter.h"

namespace tessaro {

// One group under way: its tiles' file sizes, its mosaic's pixel bytes (0 until its fill
// begins) and how many of them are written.
struct GroupMeter {
    uint64_t tileBytes = 0;
    uint64_t mosaicBytes = 0;
    uint64_t written = 0;
};

// The run's progress. Groups in flight are summed, so that several could be under way at once.
struct RunProgress {
    int groupNumber = 0;  // the latest group started, counted from 1
    int groupTotal = 0;
    uint64_t tileBytesTotal = 0;     // the file sizes of every tile of the run
    uint64_t tileBytesFinished = 0;  // those of the groups done
    std::vector<GroupMeter> inFlight;
};

// How many tile bytes have been read: the finished groups' and, for each group in flight, the
// share of its tiles matching the share of its mosaic written.
uint64_t TileBytesRead(const RunProgress& progress);

struct RunTally {
    int saved = 0;
    int failed = 0;
    int tilesDeleted = 0;
};

// Shows a RunProgress on the status line (console.h), redrawn at most every 100 ms across the
// whole run however short its groups are. Groups under way at the same time each report through
// a GroupProgress of their own and are summed. Safe to use from several threads.
class StatusLine {
public:
    StatusLine(int groupTotal, uint64_t tileBytesTotal);

    // Group number `group` (from 1) starts; returns its slot among the groups in flight.
    std::size_t StartGroup(int group, uint64_t tileBytes);
    void FinishGroup(std::size_t slot);
    void Begin(std::size_t slot, uint64_t mosaicBytes);
    void Add(std::size_t slot, uint64_t bytes);

    double Seconds() const;

private:
    using Clock = std::chrono::steady_clock;
    void MaybeDraw();  // with mutex_ held

    std::mutex mutex_;
    RunProgress progress_;
    std::vector<bool> slotUsed_;
    const Clock::time_point start_;
    Clock::time_point nextDraw_;
};

// One group's fill meter, feeding its slot of the status line from its start to its end.
class GroupProgress final : public FillMeter {
public:
    GroupProgress(StatusLine& line, int group, uint64_t tileBytes)
        : line_(line), slot_(line.StartGroup(group, tileBytes)) {}
    ~GroupProgress() override { line_.FinishGroup(slot_); }
    GroupProgress(const GroupProgress&) = delete;
    GroupProgress& operator=(const GroupProgress&) = delete;
    void Begin(uint64_t mosaicBytes) override { line_.Begin(slot_, mosaicBytes); }
    void Add(uint64_t bytes) override { line_.Add(slot_, bytes); }

private:
    StatusLine& line_;
    const std::size_t slot_;
};

}  // namespace tessaro
