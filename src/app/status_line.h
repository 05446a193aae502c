// Live progress on a terminal: the status line during each group, and the run's summary.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "progress/fill_meter.h"

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

// "组 3/10  45%  12.3 MB/s  剩余 0:42": the latest group and the total, the share written of the
// mosaics in flight, tile bytes read per second, and the time left for the tiles still to read
// at that pace ("--:--" until something has been read).
std::string ProgressText(const RunProgress& progress, double seconds);

struct RunTally {
    int saved = 0;
    int failed = 0;
    int tilesDeleted = 0;
};

// The run's last line on a terminal, with its line break.
std::string SummaryText(const RunTally& tally, double seconds);

// Shows a RunProgress on the status line (console.h), redrawn at most every 100 ms across the
// whole run however short its groups are. Installed as the fill meter, it sees the mosaic grow.
class StatusLine final : public FillMeter {
public:
    StatusLine(int groupTotal, uint64_t tileBytesTotal);

    void StartGroup(uint64_t tileBytes);
    void FinishGroup();
    void Begin(uint64_t mosaicBytes) override;
    void Add(uint64_t bytes) override;

    double Seconds() const;

private:
    using Clock = std::chrono::steady_clock;
    void MaybeDraw();

    RunProgress progress_;
    const Clock::time_point start_;
    Clock::time_point nextDraw_;
};

}  // namespace tessaro
