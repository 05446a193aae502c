// The run's side of a decoding child on Linux: the child is forked by the fork server (or, without
// one, from the run), and talks to the run over a socket pair of its own.
#include "sandbox/client.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <span>

#include "os/interrupt.h"
#include "sandbox/child_posix.h"
#include "sandbox/client_internal.h"
#include "sandbox/confine.h"
#include "sandbox/fork_server_posix.h"
#include "sandbox/protocol.h"
#include "sandbox/socket_message_posix.h"
#include "sandbox/test_modes.h"

namespace tessaro {

namespace {

// In a child forked by Start itself: keeps only the descriptors it needs, moved to fresh numbers,
// and closes every other one it inherited (the parent's other groups, its directories, the
// console's pipes stay reachable otherwise).
std::vector<UniqueFd> KeepOnly(const std::vector<UniqueFd>& tiles, int* channel) {
    int top = *channel;
    for (const UniqueFd& tile : tiles) top = std::max(top, tile.get());
    const int base = top + 1;
    const int count = static_cast<int>(tiles.size());
    std::vector<UniqueFd> kept;
    for (int i = 0; i < count; ++i)
        kept.emplace_back(tiles[i] ? dup2(tiles[i].get(), base + i) : -1);
    *channel = dup2(*channel, base + count);
#ifdef TESSARO_SANITIZED
    constexpr unsigned kFirstClosed = 3;  // a sanitizer's report still reaches standard error
#else
    constexpr unsigned kFirstClosed = 0;
#endif
    close_range(kFirstClosed, static_cast<unsigned>(base - 1), 0);
    close_range(static_cast<unsigned>(base + count + 1), ~0u, 0);
    return kept;
}

// Forks the child from this process, when there is no fork server to ask. -1 when it cannot.
pid_t ForkHere(const std::vector<UniqueFd>& tiles, const DecoderLimits& limits, UniqueFd childEnd,
               int parentEnd) {
    PrepareDecoderFilter();
    const pid_t pid = fork();
    if (pid == 0) {
        ResetSignalsInChild();
        int channel = childEnd.release();
        static_cast<void>(parentEnd);  // closed below with everything else
        std::vector<UniqueFd> kept = KeepOnly(tiles, &channel);
        TuneAllocatorForDecoding();
        if (!ConfineDecoder(LimitsForTestMode(limits, DecoderTestMode()))) _exit(3);
        ServeGroup(channel, std::move(kept));
    }
    return pid;
}

}  // namespace

struct DecoderChild::Process {
    Process(pid_t pid, UniqueFd channel, std::size_t tileCount, uint64_t timeoutSeconds, bool reap)
        : pid(pid), channel(std::move(channel)), tileCount(tileCount),
          timeoutSeconds(timeoutSeconds), reap(reap) {}
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    pid_t pid = -1;
    UniqueFd channel;
    std::size_t tileCount = 0;
    std::vector<std::optional<TileSize>> measured;  // the sizes the child sent unasked, in order
    uint64_t timeoutSeconds = 0;
    bool reap = false;  // a child of this process (else the fork server's)
    bool fillBegun = false;
    uint64_t fillReported = 0;
    FillMeter* meter = nullptr;  // the fill's, while it runs
};

namespace {

void Kill(DecoderChild::Process& child) {
    if (child.pid > 0) kill(child.pid, SIGKILL);
    child.channel.reset();
}

// Waits for the child's next reply of kind `want` into *reply, an interrupt (decoding is
// abandoned, which is always safe), or the end of the child's time. Sizes it sends unasked are
// kept on the way, and progress replies passed on to the fill's meter, if it has one. False (and
// the child ended) when no such reply came.
bool Receive(DecoderChild::Process& child, DecoderReplyKind want, DecoderReply* reply) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(child.timeoutSeconds);
    pollfd wait[2] = {{child.channel.get(), POLLIN, 0}, {InterruptFd(), POLLIN, 0}};
    while (child.channel) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        const int ready = poll(wait, InterruptFd() >= 0 ? 2 : 1,
                               static_cast<int>(std::min<int64_t>(INT32_MAX, left.count())));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || !(wait[0].revents & (POLLIN | POLLHUP)) ||
            !ReceiveMessage(child.channel.get(), reply, sizeof *reply))
            break;
        if (reply->kind == DecoderReplyKind::measured) {
            // Sizes come in group order, each recorded whenever it arrives.
            if (reply->index != child.measured.size() || reply->index >= child.tileCount) break;
            child.measured.push_back(MeasuredSize(*reply));
            if (want == DecoderReplyKind::measured) return true;
        } else if (reply->kind == want) {
            return true;
        } else if (reply->kind == DecoderReplyKind::progress) {
            RelayFill(reply->mosaicBytes, reply->written, child.meter, &child.fillBegun,
                      &child.fillReported);
        } else {
            break;  // nothing this child may send now
        }
    }
    Kill(child);  // died, hung past its time, no longer wanted, or talking nonsense
    return false;
}

// Sends a request (with the descriptor passFd, if >= 0) and receives its answer.
bool Ask(DecoderChild::Process& child, const DecoderRequest& request, int passFd,
         DecoderReply* reply) {
    const std::span<const int> passed(&passFd, passFd >= 0 ? 1 : 0);
    if (!child.channel || !SendMessage(child.channel.get(), &request, sizeof request, passed)) {
        Kill(child);
        return false;
    }
    if (!Receive(child, DecoderReplyKind::answer, reply)) return false;
    RelayFill(reply->mosaicBytes, reply->written, child.meter, &child.fillBegun,
              &child.fillReported);
    return true;
}

}  // namespace

DecoderChild::Process::~Process() {
    if (pid <= 0) return;
    // Whatever it was doing, it has nothing left to give: every reply it sent was complete.
    Kill(*this);
    if (!reap) {
        decoder_detail::ReleaseServedChild(pid);
        return;
    }
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

void DecoderChild::AtProcessStart() { decoder_detail::StartForkServer(); }

std::optional<DecoderChild> DecoderChild::Start(const std::vector<UniqueFd>& tiles,
                                                const DecoderLimits& limits) {
    const uint64_t timeout = ReplyTimeoutSeconds(limits);
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return std::nullopt;
    UniqueFd parentEnd(ends[0]);
    UniqueFd childEnd(ends[1]);
    if (decoder_detail::ForkThroughServer(tiles, limits, childEnd.get())) {
        childEnd.reset();
        auto served =
            std::make_unique<Process>(-1, std::move(parentEnd), tiles.size(), timeout, false);
        DecoderReply started{};
        if (Receive(*served, DecoderReplyKind::started, &started) && started.pid > 0) {
            served->pid = started.pid;
            return DecoderChild(std::move(served));
        }
        // The server had no child to give, or is gone: one is forked here instead.
        if (InterruptSignal() != 0 ||
            socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
            return std::nullopt;
        parentEnd = UniqueFd(ends[0]);
        childEnd = UniqueFd(ends[1]);
    }
    const pid_t pid = ForkHere(tiles, limits, std::move(childEnd), parentEnd.get());
    if (pid < 0) return std::nullopt;
    return DecoderChild(
        std::make_unique<Process>(pid, std::move(parentEnd), tiles.size(), timeout, true));
}

DecoderChild::DecoderChild(std::unique_ptr<Process> process) : process_(std::move(process)) {}

DecoderChild::DecoderChild(DecoderChild&& other) noexcept = default;

DecoderChild::~DecoderChild() = default;  // process_ ends the child

std::optional<TileSize> DecoderChild::Measure(std::size_t index) {
    if (!process_) return std::nullopt;
    Process& child = *process_;
    // The child sends its sizes in order, unasked, up to the first tile it cannot measure.
    const auto sizesEnded = [&] {
        return child.measured.size() == child.tileCount ||
               (!child.measured.empty() && !child.measured.back());
    };
    DecoderReply reply{};
    while (!sizesEnded() && child.measured.size() <= index)
        if (!Receive(child, DecoderReplyKind::measured, &reply)) return std::nullopt;
    if (index < child.measured.size()) return child.measured[index];
    // Past the first tile it could not measure: asked for by name.
    if (!Ask(child, MeasureRequest(index), -1, &reply)) return std::nullopt;
    return MeasuredSize(reply);
}

FillOutcome DecoderChild::Fill(const TileLayout& layout, const BmpFile& canvas,
                               const DecoderLimits& limits, FillMeter* meter) {
    if (!process_ || process_->pid <= 0) return FillOutcome::readFailed;
    Process& child = *process_;
    // Else it keeps the measuring limits.
    SetDecoderLimits(child.pid, LimitsForTestMode(limits, DecoderTestMode()));
    child.timeoutSeconds = ReplyTimeoutSeconds(limits);
    child.meter = meter;
    DecoderReply reply{};
    if (!Ask(child, FillRequest(layout, meter != nullptr, 0), canvas.fd.get(), &reply))
        return FillOutcome::readFailed;
    return FillResult(reply);
}

}  // namespace tessaro
