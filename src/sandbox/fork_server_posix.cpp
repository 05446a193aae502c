// The fork server process (fork_server_posix.h): the children it keeps ready, and how it hands
// them out.
#include "sandbox/fork_server_posix.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sandbox/child_posix.h"
#include "sandbox/confine.h"
#include "sandbox/protocol.h"
#include "sandbox/socket_message_posix.h"
#include "sandbox/test_modes.h"

namespace tessaro::decoder_detail {

namespace {

DecoderLimits LimitsFromWire(const WireLimits& wire) {
    return {wire.addressSpaceBytes, wire.cpuSeconds};
}

// Children kept ready ahead of requests.
constexpr std::size_t kReadyChildren = 2;

struct ReadyChild {
    pid_t pid = -1;
    UniqueFd link;  // the server's end of its link to the child
};

bool SameLimits(const DecoderLimits& a, const DecoderLimits& b) {
    return a.addressSpaceBytes == b.addressSpaceBytes && a.cpuSeconds == b.cpuSeconds;
}

// In a new child of the server: keeps only its link to the server (as descriptor 3; 0 to 2 are
// the server's /dev/null), confines itself, waits for its group's tiles and its socket to the
// run, and serves the run.
[[noreturn]] void BecomeChild(int socket, pid_t server) {
    ResetSignalsInChild();
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != server) _exit(3);
    if (socket != 3 && dup2(socket, 3) != 3) _exit(3);
    close_range(4, ~0u, 0);
    if (!ConfineDecoder(LimitsForTestMode(kMeasuringLimits, DecoderTestMode()))) _exit(3);
    ForkAssignment assignment{};
    std::vector<UniqueFd> passed;
    if (!ReceiveMessage(3, &assignment, sizeof assignment, &passed) || assignment.tileCount > kMaxGroupTiles ||
        static_cast<std::size_t>(std::popcount(assignment.present)) + 1 != passed.size())
        _exit(0);
    close(3);
    std::vector<UniqueFd> tiles(assignment.tileCount);
    auto next = passed.begin();
    for (uint32_t i = 0; i < assignment.tileCount; ++i)
        if (assignment.present & (1u << i)) tiles[i] = std::move(*next++);
    const int channel = passed.back().release();
    ServeGroup(channel, std::move(tiles));
}

std::optional<ReadyChild> ForkChild() {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return std::nullopt;
    UniqueFd link(ends[0]);
    UniqueFd socket(ends[1]);
    const pid_t server = getpid();
    const pid_t pid = fork();
    if (pid < 0) return std::nullopt;
    if (pid == 0) BecomeChild(socket.release(), server);
    return ReadyChild{pid, std::move(link)};
}

// Reaps every child in `pids` that has ended, and keeps the others.
void ReapEnded(std::vector<pid_t>& pids) {
    std::erase_if(pids, [](pid_t pid) {
        int status;
        return waitpid(pid, &status, WNOHANG) != 0;
    });
}

// Hands a ready child (or a new one) the request's tiles and socket, telling the run over that
// socket which child it got, before the child has it, so that nothing the child sends comes
// first. Without a child, the run is told so.
void HandOut(const ForkRequest& request, std::vector<UniqueFd>& passed,
             std::vector<ReadyChild>& ready, std::vector<pid_t>& handedOut, std::vector<pid_t>& released) {
    std::array<int, kMaxPassedFds> fdArray;
    std::transform(passed.begin(), passed.end(), fdArray.begin(), [](const UniqueFd& fd) { return fd.get(); });
    const std::span<const int> fds(fdArray.data(), passed.size());
    const int channel = fds.back();
    DecoderReply started{};
    started.kind = DecoderReplyKind::started;
    std::optional<ReadyChild> child;
    if (!ready.empty()) {
        child = std::move(ready.front());
        ready.erase(ready.begin());
    } else {
        child = ForkChild();
    }
    const DecoderLimits limits = LimitsForTestMode(LimitsFromWire(request.limits), DecoderTestMode());
    const DecoderLimits confined = LimitsForTestMode(kMeasuringLimits, DecoderTestMode());
    if (child && !SameLimits(limits, confined) && !SetDecoderLimits(child->pid, limits)) {
        kill(child->pid, SIGKILL);
        released.push_back(child->pid);
        child.reset();
    }
    if (child) started.pid = child->pid;
    if (!SendMessage(channel, &started, sizeof started) || !child) return;
    // (Should it have died waiting, the run finds the socket closed.)
    const ForkAssignment assignment{request.tileCount, request.present};
    SendMessage(child->link.get(), &assignment, sizeof assignment, fds);
    handedOut.push_back(child->pid);
}

}  // namespace

void RunForkServer(int control) {
    // Interrupts are the run's business: the server goes when the run's socket closes.
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(signal, SIG_IGN);
    // Nothing of the run stays open but the socket (moved to 3); 0 to 2 become /dev/null, so that
    // descriptors passed to the server and its children never take their numbers.
    if (control != 3 && dup2(control, 3) != 3) _exit(3);
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
#ifdef TESSARO_SANITIZED
    constexpr int kNulled = 2;  // a sanitizer's report still reaches standard error
#else
    constexpr int kNulled = 3;
#endif
    for (int fd = 0; fd < kNulled && null >= 0; ++fd)
        if (null != fd) dup2(null, fd);
    close_range(4, ~0u, 0);

    // After each fork, every page the server writes is copied first: the loop allocates nothing.
    std::vector<ReadyChild> ready;
    ready.reserve(kReadyChildren + 1);
    std::vector<pid_t> handedOut;  // children the run has, not yet let go of
    handedOut.reserve(64);
    std::vector<pid_t> released;  // let go of by the run, perhaps not yet ended
    released.reserve(64);
    std::vector<UniqueFd> passed;
    passed.reserve(kMaxPassedFds);
    std::size_t keepReady = kReadyChildren;
    bool prepared = false;  // only once there is a group to decode: a run may have none
    // Children are kept ready only from the second group on: a run of one group would only pay
    // for them.
    std::size_t groups = 0;
    for (;;) {
        ReapEnded(released);
        // A ready child that ended unasked (it could not confine itself) is not replaced ahead
        // of time again: each request then forks its own.
        const std::size_t before = ready.size();
        std::erase_if(ready, [](const ReadyChild& child) {
            int status;
            return waitpid(child.pid, &status, WNOHANG) != 0;
        });
        if (ready.size() < before) keepReady = 0;
        while (groups >= 2 && ready.size() < keepReady) {
            std::optional<ReadyChild> child = ForkChild();
            if (!child) break;
            ready.push_back(std::move(*child));
        }
        // (Children that end are reaped here, at the next request: a zombie costs nothing, and
        // waking for each one would cost the server the pages a signal touches.)
        ForkRequest request{};
        passed.clear();
        if (!ReceiveMessage(3, &request, sizeof request, &passed) || request.tileCount > kMaxGroupTiles ||
            request.releasedCount > kMaxReleasedChildren ||
            static_cast<std::size_t>(std::popcount(request.present)) + (request.tileCount > 0) != passed.size())
            break;  // the run has ended
        for (uint32_t i = 0; i < request.releasedCount; ++i)
            if (std::erase(handedOut, request.released[i]) > 0) released.push_back(request.released[i]);
        if (request.tileCount == 0) continue;
        if (!prepared) {
            PrepareDecoderFilter();
            TuneAllocatorForDecoding();
            WarmUpDecoding();
            malloc_trim(0);  // what warming up freed need not be copied into every child
            prepared = true;
        }
        HandOut(request, passed, ready, handedOut, released);
        ++groups;
    }
    // The run has ended (or is ending, its children ended): so do the children, and all are
    // reaped (their process ids are nobody's to signal any more).
    for (const ReadyChild& child : ready) kill(child.pid, SIGKILL);
    for (const pid_t pid : handedOut) kill(pid, SIGKILL);
    for (int status; waitpid(-1, &status, 0) > 0 || errno == EINTR;) {
    }
    _exit(0);
}

}  // namespace tessaro::decoder_detail
