#include "sandbox/decoder_client.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <span>

#include "sandbox/child_posix.h"
#include "sandbox/fork_server_posix.h"
#include "sandbox/socket_message_posix.h"
#include "os/interrupt.h"
#include "decode/fill_meter.h"

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
        DecoderChild child(-1, std::move(parentEnd), tiles.size(), timeout, false);
        DecoderReply started{};
        if (child.Receive(DecoderReplyKind::started, &started) && started.pid > 0) {
            child.pid_ = started.pid;
            return child;
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
    return DecoderChild(pid, std::move(parentEnd), tiles.size(), timeout, true);
}

DecoderChild::DecoderChild(DecoderChild&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      channel_(std::move(other.channel_)),
      tileCount_(other.tileCount_),
      measured_(std::move(other.measured_)),
      timeoutSeconds_(other.timeoutSeconds_),
      reap_(other.reap_),
      fillBegun_(other.fillBegun_),
      fillReported_(other.fillReported_),
      meter_(other.meter_) {}

DecoderChild::~DecoderChild() {
    if (pid_ <= 0) return;
    // Whatever it was doing, it has nothing left to give: every reply it sent was complete.
    Kill();
    if (!reap_) {
        decoder_detail::ReleaseServedChild(pid_);
        return;
    }
    int status;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}

void DecoderChild::Kill() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    channel_.reset();
}

bool DecoderChild::Receive(DecoderReplyKind want, DecoderReply* reply) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds_);
    pollfd wait[2] = {{channel_.get(), POLLIN, 0}, {InterruptFd(), POLLIN, 0}};
    while (channel_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        const int ready = poll(wait, InterruptFd() >= 0 ? 2 : 1,
                               static_cast<int>(std::min<int64_t>(INT32_MAX, left.count())));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || !(wait[0].revents & (POLLIN | POLLHUP)) ||
            !ReceiveMessage(channel_.get(), reply, sizeof *reply))
            break;
        if (reply->kind == DecoderReplyKind::measured) {
            // Sizes come in group order, each recorded whenever it arrives.
            if (reply->index != measured_.size() || reply->index >= tileCount_) break;
            measured_.push_back(reply->ok ? std::optional<TileSize>(reply->size) : std::nullopt);
            if (want == DecoderReplyKind::measured) return true;
        } else if (reply->kind == want) {
            return true;
        } else if (reply->kind == DecoderReplyKind::progress) {
            RelayFill(reply->mosaicBytes, reply->written, meter_, &fillBegun_,
                      &fillReported_);
        } else {
            break;  // nothing this child may send now
        }
    }
    Kill();  // died, hung past its time, no longer wanted, or talking nonsense
    return false;
}

bool DecoderChild::Ask(const DecoderRequest& request, int passFd, DecoderReply* reply) {
    const std::span<const int> passed(&passFd, passFd >= 0 ? 1 : 0);
    if (!channel_ || !SendMessage(channel_.get(), &request, sizeof request, passed)) {
        Kill();
        return false;
    }
    if (!Receive(DecoderReplyKind::answer, reply)) return false;
    RelayFill(reply->mosaicBytes, reply->written, meter_, &fillBegun_, &fillReported_);
    return true;
}

std::optional<TileSize> DecoderChild::Measure(std::size_t index) {
    // The child sends its sizes in order, unasked, up to the first tile it cannot measure.
    const auto sizesEnded = [&] {
        return measured_.size() == tileCount_ || (!measured_.empty() && !measured_.back());
    };
    DecoderReply reply{};
    while (!sizesEnded() && measured_.size() <= index)
        if (!Receive(DecoderReplyKind::measured, &reply)) return std::nullopt;
    if (index < measured_.size()) return measured_[index];
    // Past the first tile it could not measure: asked for by name.
    DecoderRequest request{};
    request.index = static_cast<uint32_t>(index);
    if (!Ask(request, -1, &reply) || !reply.ok) return std::nullopt;
    return reply.size;
}

FillOutcome DecoderChild::Fill(const TileLayout& layout, const BmpFile& canvas,
                               const DecoderLimits& limits, FillMeter* meter) {
    if (pid_ <= 0) return FillOutcome::readFailed;
    // Else it keeps the measuring limits.
    SetDecoderLimits(pid_, LimitsForTestMode(limits, DecoderTestMode()));
    timeoutSeconds_ = ReplyTimeoutSeconds(limits);
    DecoderRequest request{};
    request.op = DecoderOp::fill;
    request.reportProgress = meter != nullptr;
    meter_ = meter;
    request.layout = layout;
    DecoderReply reply{};
    if (!Ask(request, canvas.fd.get(), &reply) || !reply.ok) return FillOutcome::readFailed;
    return reply.outcome;
}

}  // namespace tessaro
