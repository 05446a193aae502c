#include "sandbox/child_posix.h"

#include <malloc.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <string_view>
#include <variant>

#include "bmp/bmp_file.h"
#include "decode/canvas_fill.h"
#include "decode/fill_meter.h"
#include "mosaic/tile_layout.h"
#include "sandbox/child.h"
#include "sandbox/protocol.h"
#include "sandbox/socket_message_posix.h"
#include "sandbox/test_modes.h"
#include "tiff/tiff_reader.h"

namespace tessaro {

namespace {

// The child's fill meter: sends progress replies to the run, at most ten a second.
class ChannelMeter final : public FillMeter {
public:
    explicit ChannelMeter(int channel) : channel_(channel) {}
    void Begin(uint64_t mosaicBytes) override {
        total_ = mosaicBytes;
        Send();
    }
    void Add(uint64_t bytes) override {
        written_ += bytes;
        if (std::chrono::steady_clock::now() - sent_ >= std::chrono::milliseconds(100)) Send();
    }
    uint64_t total() const { return total_; }
    uint64_t written() const { return written_; }

private:
    void Send() {
        DecoderReply note{};
        note.kind = DecoderReplyKind::progress;
        note.mosaicBytes = total_;
        note.written = written_;
        SendMessage(channel_, &note, sizeof note);
        sent_ = std::chrono::steady_clock::now();
    }

    int channel_;
    uint64_t total_ = 0;
    uint64_t written_ = 0;
    std::chrono::steady_clock::time_point sent_{};
};

// A TIFF file of 2 x 2 RGB pixels, uncompressed, in one strip.
std::string WarmUpTile() {
    std::string file;
    auto put16 = [&](uint32_t v) {
        file += static_cast<char>(v & 0xff);
        file += static_cast<char>((v >> 8) & 0xff);
    };
    auto put32 = [&](uint32_t v) {
        put16(v & 0xffff);
        put16(v >> 16);
    };
    struct Entry {
        uint16_t tag, type;
        uint32_t value;
    };
    constexpr uint32_t kIfd = 8, kEntries = 10;
    constexpr uint32_t kBits = kIfd + 2 + 12 * kEntries + 4, kPixels = kBits + 6;
    const Entry entries[kEntries] = {
        {256, 3, 2},       {257, 3, 2}, {258, 3, kBits}, {259, 3, 1},  {262, 3, 2},
        {273, 4, kPixels}, {277, 3, 3}, {278, 3, 2},     {279, 4, 12}, {284, 3, 1}};
    file += "II*";
    file += '\0';
    put32(kIfd);
    put16(kEntries);
    for (const Entry& entry : entries) {
        put16(entry.tag);
        put16(entry.type);
        put32(entry.tag == 258 ? 3 : 1);
        if (entry.type == 3 && entry.tag != 258) {
            put16(entry.value);
            put16(0);
        } else {
            put32(entry.value);
        }
    }
    put32(0);
    for (int i = 0; i < 3; ++i) put16(8);
    for (int i = 0; i < 12; ++i) file += static_cast<char>(i * 20);
    return file;
}

}  // namespace

void ResetSignalsInChild() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(signal, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

void TuneAllocatorForDecoding() {
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

void WarmUpDecoding() {
    const std::string bytes = WarmUpTile();
    UniqueFd file(memfd_create("tessaro-warm-up", MFD_CLOEXEC));
    if (!file || write(file.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        return;
    std::vector<UniqueFd> tiles;
    std::vector<TileSize> sizes;
    for (int i = 0; i < 2; ++i) {
        tiles.emplace_back(dup(file.get()));
        const std::optional<TileSize> size = TIFFWH(tiles.back().get());
        if (!size) return;
        sizes.push_back(*size);
    }
    const auto checked = CheckTileSizes(sizes);
    const TileLayout* layout = std::get_if<TileLayout>(&checked);
    if (layout == nullptr) return;
    BmpFile canvas;
    canvas.width = layout->canvasWidth;
    canvas.height = layout->canvasHeight;
    canvas.fd = UniqueFd(memfd_create("tessaro-warm-up-canvas", MFD_CLOEXEC));
    const auto length = static_cast<off_t>(kBmpHeaderSize + BmpImageSize(canvas.width, canvas.height));
    if (!canvas.fd || ftruncate(canvas.fd.get(), length) != 0) return;
    FillCanvas(tiles, *layout, canvas);
}

void ServeGroup(int channel, std::vector<UniqueFd> tiles) {
    const std::string_view mode = DecoderTestMode();
    MisbehaveForTest(mode);
    ProbeConfinementForTest(mode, channel);
    for (uint32_t i = 0; i < tiles.size(); ++i) {
        DecoderRequest measure{};
        measure.index = i;
        DecoderReply reply = AnswerRequest(measure, tiles, UniqueFd(), nullptr, mode);
        reply.kind = DecoderReplyKind::measured;
        reply.index = i;
        if (!SendMessage(channel, &reply, sizeof reply)) _exit(0);
        if (!reply.ok) break;
    }
    for (;;) {
        DecoderRequest request{};
        std::vector<UniqueFd> passed;
        if (!ReceiveMessage(channel, &request, sizeof request, &passed) || passed.size() > 1)
            _exit(0);  // the run is done, or talks nonsense
        UniqueFd canvasFd = passed.empty() ? UniqueFd() : std::move(passed.front());
        ChannelMeter meter(channel);
        const bool reports = request.op == DecoderOp::fill && request.reportProgress != 0;
        DecoderReply reply =
            AnswerRequest(request, tiles, std::move(canvasFd), reports ? &meter : nullptr, mode);
        reply.mosaicBytes = meter.total();
        reply.written = meter.written();
        if (!SendMessage(channel, &reply, sizeof reply)) _exit(0);
    }
}

}  // namespace tessaro
