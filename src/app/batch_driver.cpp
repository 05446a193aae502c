#include "app/batch_driver.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string_view>
#include <thread>

#include "app/console.h"
#include "os/interrupt.h"
#include "scan/path_text.h"

namespace tessaro {

namespace {

std::string_view ParentView(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

void PrintProgress(int groupIndex, int groupTotal, const std::string& dir) {
    PrintWithPath(" ++ " + std::to_string(groupIndex) + "/" + std::to_string(groupTotal) +
                      " ++   path: ",
                  dir, "\n");
}

}  // namespace

bool ComparePaths(const std::string& a, const std::string& b) {
    std::string_view dirA = ParentView(a);
    std::string_view dirB = ParentView(b);
    if (int byDir = dirA.compare(dirB); byDir != 0) return byDir < 0;
    return a < b;
}

int CountDirGroups(const TileList& list) {
    int groups = 0;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (i == 0 || ParentView(list[i]) != ParentView(list[i - 1])) ++groups;
    return groups;
}

namespace {

struct GroupJob {
    TileGroup tiles;
    std::string dir;
    DirId dirId;
};

// The groups of a sorted list: each directory's run of tiles.
std::vector<GroupJob> MakeJobs(TileList& list, ScannedDirs& dirs) {
    std::vector<GroupJob> jobs;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (jobs.empty() || ParentView(list[i]) != jobs.back().dir) {
            std::string dir = GetParentDir(list[i]);
            const DirId id = dirs[dir];
            jobs.push_back({{}, std::move(dir), id});
        }
        jobs.back().tiles.push_back(std::move(list[i]));
    }
    return jobs;
}

// One group's lines and outcome, captured while it runs.
struct GroupResult {
    std::string output;
    bool saved = false;
    bool done = false;
};

}  // namespace

bool SpliceTree(const std::string& rootDir, bool deleteSources, const GroupSplicer& splice) {
    TileList list;
    ScannedDirs dirs;
    FindTifFiles(rootDir, ".tif", list, &dirs);
    std::sort(list.begin(), list.end(), ComparePaths);
    std::vector<GroupJob> jobs = MakeJobs(list, dirs);
    const int total = static_cast<int>(jobs.size());

    // Up to one group in flight per usable processor, each decoded in its own child process;
    // their lines are printed in group order, each group's together, as a lone run prints them.
    std::vector<GroupResult> results(jobs.size());
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<std::size_t> next{0};
    std::size_t exited = 0;
    auto work = [&] {
        for (std::size_t i; (i = next++) < jobs.size() && InterruptSignal() == 0;) {
            GroupResult result;
            {
                const OutputCapture capture(&result.output);
                PrintProgress(static_cast<int>(i) + 1, total, jobs[i].dir);
                result.saved = splice(jobs[i].tiles, jobs[i].dirId, deleteSources);
            }
            result.done = true;
            const std::lock_guard<std::mutex> lock(mutex);
            results[i] = std::move(result);
            finished.notify_all();
        }
        const std::lock_guard<std::mutex> lock(mutex);
        ++exited;
        finished.notify_all();
    };
    const std::size_t workers = std::min<std::size_t>(UsableCpus(), jobs.size());
    std::vector<std::thread> threads;
    for (std::size_t w = 0; w < workers; ++w) threads.emplace_back(work);

    bool allSaved = true;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        std::unique_lock<std::mutex> lock(mutex);
        finished.wait(lock, [&] { return results[i].done || exited == workers; });
        const GroupResult& result = results[i];
        // After an interrupt, a group left unfinished has nothing to report.
        if (!result.done || (!result.saved && InterruptSignal() != 0)) continue;
        allSaved = allSaved && result.saved;
        PrintRaw(result.output);
        FlushOutput();
    }
    for (std::thread& thread : threads) thread.join();
    return allSaved;
}

}  // namespace tessaro
