#include "app/batch_driver.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <numeric>
#include <optional>
#include <string_view>
#include <thread>

#include "app/console.h"
#include "app/status_line.h"
#include "app/tile_bytes.h"
#include "os/interrupt.h"
#include "scan/path_text.h"

namespace tessaro {

namespace {

void PrintProgress(int groupIndex, int groupTotal, const std::string& dir) {
    PrintWithPath(" ++ " + std::to_string(groupIndex) + "/" + std::to_string(groupTotal) +
                      " ++   path: ",
                  dir, "\n");
}

int CountGone(const TileGroup& group) {
    return static_cast<int>(std::count_if(group.begin(), group.end(), IsGone));
}

struct GroupJob {
    TileGroup tiles;
    std::string dir;
    DirId dirId;
    uint64_t tileBytes = 0;  // only counted for the status line
};

// The groups of a sorted list: each directory's run of tiles.
std::vector<GroupJob> MakeJobs(TileList& list, ScannedDirs& dirs, bool countBytes) {
    std::vector<GroupJob> jobs;
    for (std::string& tile : list) {
        if (jobs.empty() || ParentDirView(tile) != jobs.back().dir) {
            std::string dir = GetParentDir(tile);
            const DirId id = dirs[dir];
            jobs.push_back({{}, std::move(dir), id});
        }
        if (countBytes) jobs.back().tileBytes += FileSizeOf(tile);
        jobs.back().tiles.push_back(std::move(tile));
    }
    return jobs;
}

// Where the worker threads wait for one another: the last to arrive lets them all go. (MinGW's
// std::latch can lose that wake-up and leave a finished run hanging.)
class Rendezvous {
public:
    explicit Rendezvous(std::size_t threads) : waiting_(threads) {}
    void ArriveAndWait() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (--waiting_ == 0) {
            allHere_.notify_all();
            return;
        }
        allHere_.wait(lock, [this] { return waiting_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable allHere_;
    std::size_t waiting_;
};

// One group's lines and outcome, captured while it runs.
struct GroupResult {
    std::string output;
    bool saved = false;
    int tilesDeleted = 0;
    bool done = false;
};

}  // namespace

int CountDirGroups(const TileList& list) {
    int groups = 0;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (i == 0 || ParentDirView(list[i]) != ParentDirView(list[i - 1])) ++groups;
    return groups;
}

BatchOutcome SpliceTree(const std::string& rootDir, bool deleteSources, bool showProgress,
                        const GroupSplicer& splice) {
    TileList list;
    ScannedDirs dirs;
    int rootError = 0;
    FindTifFiles(rootDir, ".tif", list, &dirs, &rootError);
    if (rootError != 0) {
        PrintError(rootDir, std::strerror(rootError));
        return BatchOutcome::rootUnreadable;
    }
    SortPaths(list);
    // Only a terminal pays for the tiles' sizes and the clock.
    std::vector<GroupJob> jobs = MakeJobs(list, dirs, showProgress);
    const int total = static_cast<int>(jobs.size());
    std::optional<StatusLine> progress;
    if (showProgress)
        progress.emplace(total, std::accumulate(jobs.begin(), jobs.end(), uint64_t{0},
                                                [](uint64_t sum, const GroupJob& job) {
                                                    return sum + job.tileBytes;
                                                }));

    // Up to one group in flight per usable processor, each decoded in its own child process.
    // Their lines are printed in group order, each group's together, as a lone run prints them:
    // whoever finishes the next group in order prints it, and every finished group after it,
    // before going on, so a run that dies has logged every group finished before the first one
    // still under way.
    std::vector<GroupResult> results(jobs.size());
    std::mutex mutex;
    std::size_t nextToPrint = 0;
    RunTally tally;
    auto printFinished = [&] {
        for (; nextToPrint < results.size() && results[nextToPrint].done; ++nextToPrint) {
            const GroupResult& result = results[nextToPrint];
            // After an interrupt, a group left unfinished has nothing to report.
            if (!result.saved && InterruptSignal() != 0) continue;
            ++(result.saved ? tally.saved : tally.failed);
            tally.tilesDeleted += result.tilesDeleted;
            PrintRaw(result.output);
            FlushOutput();
        }
    };
    std::atomic<std::size_t> next{0};
#ifdef TESSARO_SANITIZED
    // AddressSanitizer's allocator (in this compiler's runtime) is not made safe for fork: a child
    // forked while another thread allocates can inherit its lock taken. One group at a time.
    const std::size_t workers = std::min<std::size_t>(1, jobs.size());
#else
    const std::size_t workers = std::min<std::size_t>(UsableCpus(), jobs.size());
#endif
    // Decoding children are forked from these threads; no thread starts or ends while another may
    // be forking, so a child never inherits a lock held half-way through either.
    Rendezvous started(workers);
    Rendezvous finishing(workers);
    auto work = [&] {
        started.ArriveAndWait();
        for (std::size_t i; (i = next++) < jobs.size() && InterruptSignal() == 0;) {
            GroupResult result;
            {
                const OutputCapture capture(&result.output);
                std::optional<GroupProgress> meter;
                if (progress) meter.emplace(*progress, static_cast<int>(i) + 1, jobs[i].tileBytes);
                const FillMeterScope meterScope(meter ? &*meter : nullptr);
                PrintProgress(static_cast<int>(i) + 1, total, jobs[i].dir);
                result.saved = splice(jobs[i].tiles, jobs[i].dirId, deleteSources);
            }
            if (progress && result.saved && deleteSources) result.tilesDeleted = CountGone(jobs[i].tiles);
            result.done = true;
            const std::lock_guard<std::mutex> lock(mutex);
            results[i] = std::move(result);
            printFinished();
        }
        finishing.ArriveAndWait();
    };
    std::vector<std::thread> threads;
    for (std::size_t w = 1; w < workers; ++w) threads.emplace_back(work);
    if (workers > 0) work();
    for (std::thread& thread : threads) thread.join();
    if (progress) PrintErrorText(SummaryText(tally, progress->Seconds()));
    return tally.failed == 0 ? BatchOutcome::allSaved : BatchOutcome::someFailed;
}

}  // namespace tessaro
