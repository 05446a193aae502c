// A group's decoding in a child process of its own. Everything that parses TIFF bytes runs there,
// never in the process that owns the run, the tree, the console and the deletions: a tile that
// crashes its decoder, exhausts its limits or hangs costs only its group.
//
// The parent opens the tiles and the mosaic's file; the child (forked, not executed) keeps only
// those descriptors and its end of a socket to the parent, confines itself (see confine.h) before
// it reads a byte, and then serves two requests: measure tile i, and fill the mosaic's file. It
// prints nothing; the parent reports every outcome. Every group gets a child of its own, which
// serves no other group.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "bmp/bmp_file.h"
#include "sandbox/confine.h"
#include "sandbox/decoder_service.h"
#include "decode/canvas_fill.h"
#include "mosaic/tile_layout.h"
#include "os/unique_fd.h"

namespace tessaro {

class DecoderChild {
public:
    // Call once at program start, while the process has one thread and little memory: prepares
    // what every Start needs. On Linux it starts a small process that forks each group's child
    // (see decoder/fork_server_posix.h), so that no fork copies the run's address space. Optional:
    // without it, Start forks from the calling process. Does nothing on Windows.
    static void AtProcessStart();

    // Starts the child for a group's open tiles (in group order). Empty when it cannot be started.
    static std::optional<DecoderChild> Start(const std::vector<UniqueFd>& tiles,
                                             const DecoderLimits& limits);

    // Measures tile `index`; empty when it cannot be measured, or the child died or hung.
    std::optional<TileSize> Measure(std::size_t index);

    // Has the child decode every tile into the canvas (through a duplicate of canvas.fd), under
    // `limits`, passing on how far it has got to `meter` (if any). A child that died or hung is a
    // read failure.
    FillOutcome Fill(const TileLayout& layout, const BmpFile& canvas, const DecoderLimits& limits,
                     FillMeter* meter = nullptr);

    DecoderChild(DecoderChild&& other) noexcept;
    DecoderChild& operator=(DecoderChild&&) = delete;
    DecoderChild(const DecoderChild&) = delete;
    ~DecoderChild();  // ends the child if it still runs (and reaps it, or has it reaped)

private:
    DecoderChild(pid_t pid, UniqueFd channel, std::size_t tileCount, uint64_t timeoutSeconds,
                 bool reap)
        : pid_(pid), channel_(std::move(channel)), tileCount_(tileCount),
          timeoutSeconds_(timeoutSeconds), reap_(reap) {}
    // Waits for the child's next reply of kind `want` into *reply, an interrupt (decoding is
    // abandoned, which is always safe), or the end of the child's time. Sizes it sends unasked
    // are kept on the way, and progress replies passed on to the fill's meter, if it has one. False (and the child ended) when no such reply came.
    bool Receive(DecoderReplyKind want, DecoderReply* reply);
    // Sends a request (with the descriptor passFd, if >= 0) and receives its answer.
    bool Ask(const DecoderRequest& request, int passFd, DecoderReply* reply);
    void Kill();

    pid_t pid_ = -1;
    UniqueFd channel_;
    std::size_t tileCount_ = 0;
    std::vector<std::optional<TileSize>> measured_;  // the sizes the child sent unasked, in order
    uint64_t timeoutSeconds_ = 0;
    bool reap_ = false;  // a child of this process (else the fork server's)
    bool fillBegun_ = false;
    uint64_t fillReported_ = 0;
    FillMeter* meter_ = nullptr;  // the fill's, while it runs
#ifdef _WIN32
    // On Windows everything lives here: the worker process, its job object, the pipe to it and
    // the page it reports its fill in (decoder_child_win.cpp). Ending it ends the worker and
    // waits until it is gone.
    struct Worker;
    struct EndWorker {
        void operator()(Worker* worker) const;
    };
    explicit DecoderChild(std::unique_ptr<Worker, EndWorker> worker);
    std::unique_ptr<Worker, EndWorker> worker_;
#endif
};

}  // namespace tessaro
