#include "decoder/decoder_child.h"

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <thread>

#include "os/interrupt.h"
#include "progress/fill_meter.h"
#include "tiff/tiff_reader.h"

namespace tessaro {

namespace {

enum class Op : uint32_t { measure, fill };

struct Request {
    Op op;
    uint32_t index;
    TileLayout layout;
};

struct Reply {
    uint32_t ok;
    TileSize size;
    FillOutcome outcome;
};

bool SendMessage(int socket, const void* data, std::size_t size, int passFd) {
    iovec io{const_cast<void*>(data), size};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (passFd >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &passFd, sizeof(int));
    }
    ssize_t sent;
    do {
        sent = sendmsg(socket, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(size);
}

// Receives one message of exactly `size` bytes, and the descriptor passed with it if any.
bool ReceiveMessage(int socket, void* data, std::size_t size, UniqueFd* passed) {
    iovec io{data, size};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got;
    do {
        got = recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header))
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
            UniqueFd owned(fd);
            if (passed) *passed = std::move(owned);
        }
    return got == static_cast<ssize_t>(size);
}

// For the tests: TESSARO_TEST_DECODER makes the confined child crash, abort, spin (under a
// processor limit of one second) or exhaust its memory at its first request, to show that only
// its group pays; or ("slow") pause a quarter of a second after each band it writes, to show
// its progress.
std::string_view TestMisbehaviour() {
    const char* how = std::getenv("TESSARO_TEST_DECODER");
    return how == nullptr ? std::string_view() : how;
}

void MisbehaveForTest(std::string_view mode) {
    if (mode == "crash") std::raise(SIGSEGV);
    if (mode == "abort") std::abort();
    if (mode == "spin") {
        std::atomic<uint64_t> spins{0};
        for (;;) spins.fetch_add(1, std::memory_order_relaxed);
    }
    if (mode == "hog") {
        for (std::size_t size = std::size_t{1} << 30;; size *= 2) {
            char* block = new char[size];  // ends with std::bad_alloc, and so abort()
            std::memset(block, 1, size);
        }
    }
}

// The child's fill meter: counts into the page it shares with its parent.
class SharedMeter final : public FillMeter {
public:
    SharedMeter(DecoderChild::FillShare* share, bool slow) : share_(share), slow_(slow) {}
    void Begin(uint64_t mosaicBytes) override { share_->mosaicBytes.store(mosaicBytes); }
    void Add(uint64_t bytes) override {
        share_->written.fetch_add(bytes, std::memory_order_relaxed);
        if (slow_) std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }

private:
    DecoderChild::FillShare* share_;
    bool slow_;
};

[[noreturn]] void Serve(int channel, std::vector<UniqueFd> tiles, DecoderLimits limits,
                        DecoderChild::FillShare* share) {
    // Whatever meter the forking thread had belongs to the parent.
    const FillMeterScope noMeter(nullptr);
    const std::string_view misbehaviour = TestMisbehaviour();
    if (misbehaviour == "spin") limits.cpuSeconds = 1;
    if (!ConfineDecoder(limits)) _exit(3);
    for (bool first = true;; first = false) {
        Request request{};
        UniqueFd canvasFd;
        if (!ReceiveMessage(channel, &request, sizeof request, &canvasFd)) _exit(0);  // parent done
        if (first) MisbehaveForTest(misbehaviour);
        Reply reply{};
        if (request.op == Op::measure && request.index < tiles.size()) {
            const std::optional<TileSize> size = TIFFWH(tiles[request.index].get());
            reply.ok = size.has_value();
            if (size) reply.size = *size;
        } else if (request.op == Op::fill && canvasFd) {
            BmpFile canvas;
            canvas.fd = std::move(canvasFd);
            canvas.width = request.layout.canvasWidth;
            canvas.height = request.layout.canvasHeight;
            SharedMeter meter(share, misbehaviour == "slow");
            const FillMeterScope scope(&meter);
            reply.outcome = FillCanvas(tiles, request.layout, canvas);
            reply.ok = 1;
        }
        if (!SendMessage(channel, &reply, sizeof reply, -1)) _exit(0);
    }
}

// In the new child: keeps only the descriptors it needs, moved to fresh numbers, and closes every
// other one it inherited (the parent's other groups, its directories, the console's pipes stay
// reachable otherwise).
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

}  // namespace

std::optional<DecoderChild> DecoderChild::Start(const std::vector<UniqueFd>& tiles,
                                                const DecoderLimits& limits) {
    PrepareDecoderFilter();
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return std::nullopt;
    UniqueFd parentEnd(ends[0]);
    UniqueFd childEnd(ends[1]);
    void* page = mmap(nullptr, sizeof(FillShare), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) return std::nullopt;
    FillShare* share = new (page) FillShare;
    const pid_t pid = fork();
    if (pid < 0) {
        munmap(page, sizeof(FillShare));
        return std::nullopt;
    }
    if (pid == 0) {
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(signal, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        int channel = childEnd.release();
        parentEnd.release();  // closed below with everything else
        std::vector<UniqueFd> kept = KeepOnly(tiles, &channel);
        Serve(channel, std::move(kept), limits, share);
    }
    // A decoder gets twice its processor time in wall time (it shares the machine), plus slack.
    return DecoderChild(pid, std::move(parentEnd), 2 * limits.cpuSeconds + 30, share);
}

DecoderChild::DecoderChild(DecoderChild&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      channel_(std::move(other.channel_)),
      timeoutSeconds_(other.timeoutSeconds_),
      share_(std::exchange(other.share_, nullptr)) {}

DecoderChild::~DecoderChild() {
    if (share_ != nullptr) munmap(share_, sizeof(FillShare));
    if (pid_ <= 0) return;
    // Whatever it was doing, it has nothing left to give: every reply it sent was complete.
    kill(pid_, SIGKILL);
    int status;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}

bool DecoderChild::Ask(const void* request, std::size_t size, int passFd, void* reply,
                       std::size_t replySize) {
    if (!channel_ || !SendMessage(channel_.get(), request, size, passFd)) return false;
    // Waits for the reply, for an interrupt (decoding is abandoned, which is always safe), or
    // until the child's time is up; a fill meter hears of the child's progress ten times a second.
    FillMeter* const meter = CurrentFillMeter();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds_);
    pollfd wait[2] = {{channel_.get(), POLLIN, 0}, {InterruptFd(), POLLIN, 0}};
    int ready = 0;
    while (ready == 0 && std::chrono::steady_clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int timeout = static_cast<int>(std::min<int64_t>(meter ? 100 : INT32_MAX, left.count()));
        ready = poll(wait, InterruptFd() >= 0 ? 2 : 1, std::max(timeout, 0));
        if (ready < 0 && errno == EINTR) ready = 0;
        if (meter) ReportFill();
    }
    if (ready <= 0 || !(wait[0].revents & (POLLIN | POLLHUP)) ||
        !ReceiveMessage(channel_.get(), reply, replySize, nullptr)) {
        kill(pid_, SIGKILL);  // died, hung past its time, or no longer wanted
        channel_.reset();
        return false;
    }
    if (meter) ReportFill();
    return true;
}

void DecoderChild::ReportFill() {
    FillMeter* meter = CurrentFillMeter();
    const uint64_t total = share_->mosaicBytes.load();
    if (meter == nullptr || total == 0) return;
    if (!fillBegun_) meter->Begin(total);
    fillBegun_ = true;
    const uint64_t written = std::min(share_->written.load(), total);
    if (written > fillReported_) meter->Add(written - fillReported_);
    fillReported_ = std::max(written, fillReported_);
}

std::optional<TileSize> DecoderChild::Measure(std::size_t index) {
    const Request request{Op::measure, static_cast<uint32_t>(index), {}};
    Reply reply{};
    if (!Ask(&request, sizeof request, -1, &reply, sizeof reply) || !reply.ok) return std::nullopt;
    return reply.size;
}

FillOutcome DecoderChild::Fill(const TileLayout& layout, const BmpFile& canvas,
                               const DecoderLimits& limits) {
    SetDecoderLimits(pid_, limits);  // else it keeps the measuring limits
    timeoutSeconds_ = 2 * limits.cpuSeconds + 30;
    const Request request{Op::fill, 0, layout};
    Reply reply{};
    if (!Ask(&request, sizeof request, canvas.fd.get(), &reply, sizeof reply) || !reply.ok)
        return FillOutcome::readFailed;
    return reply.outcome;
}

}  // namespace tessaro
