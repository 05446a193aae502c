#include "app/batch_driver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>
#include <numeric>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include "app/console.h"
#include "app/messages.h"
#include "app/report.h"
#include "app/status_line.h"
#include "group/mosaic_path.h"
#include "os/error_text.h"
#include "os/file_io.h"
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

// One group's lines and outcome, kept from when it ends until it is its turn to be printed.
struct GroupLines {
    std::string output;
    std::string report;
    bool saved = false;
    bool abandoned = false;
    std::size_t tilesDeleted = 0;
};

}  // namespace

std::optional<GroupList> ScanTree(const std::string& rootDir) {
    int rootError = 0;
    GroupList groups = ScanTileGroups(rootDir, ".tif", &rootError);
    if (rootError != 0) {
        PrintErrorRaw(ErrorLine(rootDir, ErrorReason(rootError),
                                ErrorIsTerminal() ? NameBytes::escaped : NameBytes::exact));
        return std::nullopt;
    }
    SortGroups(groups);
    return groups;
}

void ListGroups(const GroupList& groups, bool nulSeparated) {
    const NameBytes names = OutputIsTerminal() && !nulSeparated ? NameBytes::escaped : NameBytes::exact;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        std::string line = ShownName(GroupDir(groups, i), names);
        line += nulSeparated ? '\0' : '\n';
        PrintRaw(line);
    }
    FlushOutput();
}

BatchOutcome SpliceTree(const std::string& rootDir, const RunOptions& options, const GroupSplicer& splice) {
    std::optional<GroupList> groups = ScanTree(rootDir);
    if (!groups) return BatchOutcome::rootUnreadable;
    return SpliceGroups(std::move(*groups), options, splice);
}

BatchOutcome SpliceGroups(GroupList jobs, const RunOptions& options, const GroupSplicer& splice) {
    // Names reach a terminal with their control characters escaped, anything else as they are.
    const NameBytes names = OutputIsTerminal() ? NameBytes::escaped : NameBytes::exact;
    const int total = static_cast<int>(jobs.size());
    const GroupTask task{options.deleteSources, options.dryRun};
    // Only a terminal pays for the tiles' sizes and the clock.
    std::vector<uint64_t> tileBytes;
    std::optional<StatusLine> progress;
    if (options.showProgress) {
        for (std::size_t i = 0; i < jobs.size(); ++i) tileBytes.push_back(TileBytes(GroupAt(jobs, i)));
        progress.emplace(total, std::accumulate(tileBytes.begin(), tileBytes.end(), uint64_t{0}));
    }
    bool reportFailed = false;

    // Up to one group in flight per usable processor, each decoded in its own child process.
    // Their lines are printed in group order, each group's together, as a lone run prints them:
    // whoever finishes the next group in order prints it, and every finished group after it,
    // before going on, so a run that dies has logged every group finished before the first one
    // still under way.
    std::map<std::size_t, GroupLines> finished;  // ended, waiting for the groups before them
    std::mutex mutex;
    std::size_t nextToPrint = 0;
    RunTally tally;
    auto printFinished = [&] {
        for (auto it = finished.begin(); it != finished.end() && it->first == nextToPrint;
             it = finished.erase(it), ++nextToPrint) {
            const GroupLines& result = it->second;
            // After an interrupt, a group left unfinished has nothing to report.
            if (result.abandoned || (!result.saved && InterruptSignal() != 0)) continue;
            ++(result.saved ? tally.saved : tally.failed);
            tally.tilesDeleted += static_cast<int>(result.tilesDeleted);
            PrintRaw(result.output);
            FlushOutput();
            if (options.reportFd >= 0 && !reportFailed && !WriteAllHere(options.reportFd, result.report)) {
                reportFailed = true;
                PrintErrorRaw(ErrorLine(options.reportPath, ErrorReason(errno),
                                        ErrorIsTerminal() ? NameBytes::escaped : NameBytes::exact));
            }
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
        GroupOutcome outcome = splice(group, task, meter);
        for (int attempt = 0; outcome.outOfDescriptors && InterruptSignal() == 0 &&
                              attempt < (inFlight > 1 ? kDescriptorRetries : kLoneRetries);
             ++attempt) {
            std::unique_lock<std::mutex> lock(mutex);
            groupEnded.wait_for(lock, std::chrono::milliseconds(100));
            lock.unlock();
            outcome = splice(group, task, meter);
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
    const std::size_t cpus = static_cast<std::size_t>(options.maxJobs > 0 ? options.maxJobs : UsableCpus());
    const std::size_t workers = std::min({cpus, byDescriptors, jobs.size()});
#endif
    // Decoding children are forked from these threads; no thread starts or ends while another may
    // be forking, so a child never inherits a lock held half-way through either.
    Rendezvous started;
    Rendezvous finishing;
    auto work = [&] {
        started.ArriveAndWait();
        for (std::size_t i; (i = next++) < jobs.size() && InterruptSignal() == 0;) {
            const ScannedGroup group = GroupAt(jobs, i);
            GroupOutcome outcome;
            {
                std::optional<GroupProgress> meter;
                if (progress) meter.emplace(*progress, static_cast<int>(i) + 1, tileBytes[i]);
                try {
                    // A listed directory without a tile (or that cannot be listed) has nothing
                    // to join.
                    outcome = group.names.empty() ? GroupOutcome{GroupResult::count}
                                                  : spliceRetrying(group, meter ? &*meter : nullptr);
                } catch (const std::bad_alloc&) {
                    outcome = GroupOutcome{GroupResult::readFailed};  // memory ran out here
                }
            }
            GroupLines result;
            result.saved = outcome.saved();
            result.abandoned = outcome.result == GroupResult::abandoned;
            result.tilesDeleted = outcome.deleted;
            const std::optional<std::string> mosaic =
                result.saved ? MosaicPath(group.dir) : std::nullopt;
            result.output = ProgressLine(static_cast<int>(i) + 1, total, group.dir, names) +
                            (outcome.result == GroupResult::checked
                                 ? CheckedLine(mosaic.value_or(""), task.deleteSources ? group.names.size() : 0, names)
                                 : OutcomeLine(outcome, group, names));
            if (options.reportFd >= 0) result.report = ReportLine(group, outcome, mosaic);
            const std::lock_guard<std::mutex> lock(mutex);
            finished.emplace(i, std::move(result));
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
    return tally.failed == 0 && !reportFailed ? BatchOutcome::allSaved : BatchOutcome::someFailed;
}

}  // namespace tessaro
