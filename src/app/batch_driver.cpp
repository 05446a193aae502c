#include "app/batch_driver.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <numeric>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include "app/console.h"
#include "app/messages.h"
#include "app/status_line.h"
#include "os/interrupt.h"
#include "os/path_status.h"
#include "os/thread.h"
#include "scan/path_order.h"

namespace tessaro {

namespace {

// The descriptors one group in flight may hold at once: its directory and lock file, six tiles,
// the socket to its decoding child (two while it is made), the mosaic's file and its directory,
// and the journal's file; and those the run holds whatever it does (standard streams, the
// interrupt pipe, the fork server's socket, the walk).
constexpr int kGroupDescriptors = 14;
constexpr int kRunDescriptors = 16;
// How many times a group short of descriptors is tried again (at least a tenth of a second apart).
constexpr int kDescriptorRetries = 50;
constexpr int kLoneRetries = 2;

int CountGone(const ScannedGroup& group) {
    int gone = 0;
    for (std::size_t i = 0; i < group.names.size(); ++i) gone += IsGone(group.TilePath(i)) ? 1 : 0;
    return gone;
}

// The file sizes of a group's tiles, for the status line.
uint64_t TileBytes(const ScannedGroup& group) {
    uint64_t bytes = 0;
    for (std::size_t i = 0; i < group.names.size(); ++i) bytes += FileSizeOf(group.TilePath(i));
    return bytes;
}

// Where the worker threads wait for one another: once as many as expected are there (a number
// known only once every thread that could be had has started), they all go on. (MinGW's
// std::latch can lose that wake-up and leave a finished run hanging.)
class Rendezvous {
public:
    void Expect(std::size_t threads) {
        const std::lock_guard<std::mutex> lock(mutex_);
        expected_ = threads;
        allHere_.notify_all();
    }
    void ArriveAndWait() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++arrived_;
        allHere_.notify_all();
        allHere_.wait(lock, [this] { return expected_ > 0 && arrived_ >= expected_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable allHere_;
    std::size_t expected_ = 0;
    std::size_t arrived_ = 0;
};

// One group's lines and outcome, kept until it is its turn to be printed.
struct GroupLines {
    std::string output;
    bool saved = false;
    bool abandoned = false;
    int tilesDeleted = 0;
    bool done = false;
};

}  // namespace

std::optional<std::vector<ScannedGroup>> ScanTree(const std::string& rootDir) {
    int rootError = 0;
    std::vector<ScannedGroup> groups = ScanTileGroups(rootDir, ".tif", &rootError);
    if (rootError != 0) {
        PrintErrorRaw(ErrorLine(rootDir, std::strerror(rootError),
                                ErrorIsTerminal() ? NameBytes::escaped : NameBytes::exact));
        return std::nullopt;
    }
    SortGroups(groups);
    return groups;
}

void ListGroups(const std::vector<ScannedGroup>& groups, bool nulSeparated) {
    const NameBytes names = OutputIsTerminal() && !nulSeparated ? NameBytes::escaped : NameBytes::exact;
    for (const ScannedGroup& group : groups) {
        std::string line = ShownName(group.dir, names);
        line += nulSeparated ? '\0' : '\n';
        PrintRaw(line);
    }
    FlushOutput();
}

BatchOutcome SpliceTree(const std::string& rootDir, bool deleteSources, bool showProgress,
                        const GroupSplicer& splice, int maxJobs) {
    std::optional<std::vector<ScannedGroup>> groups = ScanTree(rootDir);
    if (!groups) return BatchOutcome::rootUnreadable;
    return SpliceGroups(std::move(*groups), deleteSources, showProgress, splice, maxJobs);
}

BatchOutcome SpliceGroups(std::vector<ScannedGroup> jobs, bool deleteSources, bool showProgress,
                          const GroupSplicer& splice, int maxJobs) {
    // Names reach a terminal with their control characters escaped, anything else as they are.
    const NameBytes names = OutputIsTerminal() ? NameBytes::escaped : NameBytes::exact;
    const int total = static_cast<int>(jobs.size());
    // Only a terminal pays for the tiles' sizes and the clock.
    std::vector<uint64_t> tileBytes;
    std::optional<StatusLine> progress;
    if (showProgress) {
        for (const ScannedGroup& group : jobs) tileBytes.push_back(TileBytes(group));
        progress.emplace(total, std::accumulate(tileBytes.begin(), tileBytes.end(), uint64_t{0}));
    }

    // Up to one group in flight per usable processor, each decoded in its own child process.
    // Their lines are printed in group order, each group's together, as a lone run prints them:
    // whoever finishes the next group in order prints it, and every finished group after it,
    // before going on, so a run that dies has logged every group finished before the first one
    // still under way.
    std::vector<GroupLines> results(jobs.size());
    std::mutex mutex;
    std::size_t nextToPrint = 0;
    RunTally tally;
    auto printFinished = [&] {
        for (; nextToPrint < results.size() && results[nextToPrint].done; ++nextToPrint) {
            GroupLines& result = results[nextToPrint];
            // After an interrupt, a group left unfinished has nothing to report.
            if (result.abandoned || (!result.saved && InterruptSignal() != 0)) continue;
            ++(result.saved ? tally.saved : tally.failed);
            tally.tilesDeleted += result.tilesDeleted;
            PrintRaw(result.output);
            FlushOutput();
            std::string().swap(result.output);
        }
    };
    std::atomic<std::size_t> next{0};
    std::condition_variable groupEnded;  // another group's descriptors may be free now
    std::atomic<int> inFlight{0};
    // A group that found no descriptor left is tried again as groups beside it end (or every
    // tenth of a second), a while; alone, where only the system's table can have filled, twice.
    // Then it gets the outcome it had.
    const auto spliceRetrying = [&](const ScannedGroup& group, FillMeter* meter) {
        struct Counted {
            std::atomic<int>& count;
            explicit Counted(std::atomic<int>& c) : count(c) { ++count; }
            ~Counted() { --count; }
        } counted(inFlight);
        GroupOutcome outcome = splice(group, deleteSources, meter);
        for (int attempt = 0; outcome.outOfDescriptors && InterruptSignal() == 0 &&
                              attempt < (inFlight > 1 ? kDescriptorRetries : kLoneRetries);
             ++attempt) {
            std::unique_lock<std::mutex> lock(mutex);
            groupEnded.wait_for(lock, std::chrono::milliseconds(100));
            lock.unlock();
            outcome = splice(group, deleteSources, meter);
        }
        return outcome;
    };
#ifdef TESSARO_SANITIZED
    // AddressSanitizer's allocator (in this compiler's runtime) is not made safe for fork: a child
    // forked while another thread allocates can inherit its lock taken. One group at a time.
    const std::size_t workers = std::min<std::size_t>(1, jobs.size());
#else
    // No more groups side by side than the descriptors allow: each takes at most
    // kGroupDescriptors of them, beside the run's own.
    const std::size_t byDescriptors = static_cast<std::size_t>(
        std::max(1, (DescriptorLimit() - kRunDescriptors) / kGroupDescriptors));
    const std::size_t cpus = static_cast<std::size_t>(maxJobs > 0 ? maxJobs : UsableCpus());
    const std::size_t workers = std::min({cpus, byDescriptors, jobs.size()});
#endif
    // Decoding children are forked from these threads; no thread starts or ends while another may
    // be forking, so a child never inherits a lock held half-way through either.
    Rendezvous started;
    Rendezvous finishing;
    auto work = [&] {
        started.ArriveAndWait();
        for (std::size_t i; (i = next++) < jobs.size() && InterruptSignal() == 0;) {
            GroupLines result;
            GroupOutcome outcome;
            {
                std::optional<GroupProgress> meter;
                if (progress) meter.emplace(*progress, static_cast<int>(i) + 1, tileBytes[i]);
                try {
                    // A listed directory without a tile (or that cannot be listed) has nothing
                    // to join.
                    outcome = jobs[i].names.empty() ? GroupOutcome{GroupResult::count}
                                                    : spliceRetrying(jobs[i], meter ? &*meter : nullptr);
                } catch (const std::bad_alloc&) {
                    outcome = GroupOutcome{GroupResult::readFailed};  // memory ran out here
                }
            }
            result.saved = outcome.saved();
            result.abandoned = outcome.result == GroupResult::abandoned;
            result.output = ProgressLine(static_cast<int>(i) + 1, total, jobs[i].dir, names) +
                            OutcomeLine(outcome, jobs[i], names);
            if (progress && result.saved && deleteSources) result.tilesDeleted = CountGone(jobs[i]);
            result.done = true;
            const std::lock_guard<std::mutex> lock(mutex);
            results[i] = std::move(result);
            printFinished();
            groupEnded.notify_all();
        }
        finishing.ArriveAndWait();
    };
    // As many threads as the system gives, up to `workers` with this one: under tight limits
    // (address space, processes) the groups are joined by fewer, or by this thread alone.
    const auto runWork = [](void* w) { (*static_cast<decltype(work)*>(w))(); };
    std::vector<std::unique_ptr<WorkThread>> threads;
    std::size_t running = workers > 0 ? 1 : 0;
    for (; running > 0 && running < workers; ++running) {
        threads.push_back(std::make_unique<WorkThread>());
        if (!threads.back()->Start(runWork, &work)) break;
    }
    started.Expect(running);
    finishing.Expect(running);
    if (running > 0) work();
    threads.clear();  // each joins
    if (progress) PrintErrorText(SummaryText(tally, progress->Seconds()));
    return tally.failed == 0 ? BatchOutcome::allSaved : BatchOutcome::someFailed;
}

}  // namespace tessaro
