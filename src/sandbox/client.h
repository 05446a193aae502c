// A group's decoding in a child process of its own, as the run sees it. Everything that parses
// TIFF bytes runs there, never in the process that owns the run, the tree, the console and the
// deletions: a tile that crashes its decoder, exhausts its limits or hangs costs only its group.
//
// The run opens the tiles and the mosaic's file; the child keeps only those and its end of a
// channel to the run, is confined (see confine.h) before it reads a byte, and then answers two
// requests (protocol.h): measure tile i, and fill the mosaic's file. It prints nothing; the run
// reports every outcome. Every group gets a child of its own, which serves no other group.
//
// On Linux the child is forked, not executed (client_posix.cpp, fork_server_posix.h), and serves
// the group in child_posix.cpp; on Windows it is tessaro.exe started as a worker
// (client_win.cpp), serving in child_win.cpp. Both answer through child.h.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "bmp/bmp_file.h"
#include "decode/canvas_fill.h"
#include "decode/fill_meter.h"
#include "mosaic/tile_layout.h"
#include "os/unique_fd.h"
#include "sandbox/limits.h"

namespace tessaro {

class DecoderChild {
public:
    // Call once at program start, while the process has one thread and little memory: prepares
    // what every Start needs. On Linux it starts a small process that forks each group's child
    // (see fork_server_posix.h), so that no fork copies the run's address space. Optional:
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

    // What this process holds of the child: its process, the channel to it and what has come
    // over it so far. Each system's has its own (client_posix.cpp, client_win.cpp); ending it
    // ends the child.
    struct Process;

private:
    explicit DecoderChild(std::unique_ptr<Process> process);
    std::unique_ptr<Process> process_;
};

}  // namespace tessaro
