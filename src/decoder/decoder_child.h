// A group's decoding in a child process of its own. Everything that parses TIFF bytes runs there,
// never in the process that owns the run, the tree, the console and the deletions: a tile that
// crashes its decoder, exhausts its limits or hangs costs only its group.
//
// The parent opens the tiles and the mosaic's file; the child (forked, not executed) keeps only
// those descriptors and its end of a socket to the parent, confines itself (see confine.h) before
// it reads a byte, and then serves two requests: measure tile i, and fill the mosaic's file. It
// prints nothing; the parent reports every outcome.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "bmp/bmp_file.h"
#include "decoder/confine.h"
#include "mosaic/canvas_fill.h"
#include "mosaic/tile_layout.h"
#include "os/unique_fd.h"

namespace tessaro {

class DecoderChild {
public:
    // Starts the child for a group's open tiles (in group order). Empty when it cannot be started.
    static std::optional<DecoderChild> Start(const std::vector<UniqueFd>& tiles,
                                             const DecoderLimits& limits);

    // Measures tile `index`; empty when it cannot be measured, or the child died or hung.
    std::optional<TileSize> Measure(std::size_t index);

    // Has the child decode every tile into the canvas (through a duplicate of canvas.fd), under
    // `limits`. A child that died or hung is a read failure.
    FillOutcome Fill(const TileLayout& layout, const BmpFile& canvas, const DecoderLimits& limits);

    DecoderChild(DecoderChild&& other) noexcept;
    DecoderChild& operator=(DecoderChild&&) = delete;
    DecoderChild(const DecoderChild&) = delete;
    ~DecoderChild();  // ends the child if it still runs, and reaps it

    // How far the child's fill has got, in a page shared with it.
    struct FillShare {
        std::atomic<uint64_t> mosaicBytes{0};
        std::atomic<uint64_t> written{0};
    };

private:
    DecoderChild(pid_t pid, UniqueFd channel, uint64_t timeoutSeconds, FillShare* share)
        : pid_(pid), channel_(std::move(channel)), timeoutSeconds_(timeoutSeconds), share_(share) {}
    // Sends a request and waits for the reply; while waiting, passes the child's fill progress
    // on to the calling thread's fill meter, if it has one.
    bool Ask(const void* request, std::size_t size, int passFd, void* reply, std::size_t replySize);
    void ReportFill();

    pid_t pid_ = -1;
    UniqueFd channel_;
    uint64_t timeoutSeconds_ = 0;
    FillShare* share_ = nullptr;
    bool fillBegun_ = false;
    uint64_t fillReported_ = 0;
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
