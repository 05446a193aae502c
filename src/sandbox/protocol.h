// What crosses the process boundary: every record the run, its decoding children and (on Linux)
// the fork server send each other. Each is sent whole, as one message, and holds only numbers of
// fixed width: no pointer, and no type of the rest of the program, whose forms may change on
// either side. The two sides convert at their edges: client.cpp for the run, child.cpp for the
// child, and the fork server's two files for the limits it passes on.
//
// The run asks and the child answers: a DecoderOp names each request, and every request gets one
// answer (DecoderReplyKind::answer). How the records travel differs by system:
//  - Linux: over a socket per child, with descriptors passed beside them (the canvas comes with a
//    fill request). The child starts by sending its tiles' sizes unasked, in group order
//    (DecoderReplyKind::measured), up to the first tile it cannot measure, and precedes a fill's
//    answer with progress replies when asked to. A child got from the fork server is preceded on
//    that socket by the server's DecoderReplyKind::started.
//  - Windows: over a message pipe to the worker, which is first sent a WorkerGreeting naming the
//    handles it inherited; a fill request names the canvas's handle, duplicated into the worker.
//    The worker counts its fill in a page it shares with the run (channel_win.h).
#pragma once

#include <cstdint>
#include <type_traits>

namespace tessaro {

// The most tiles a group has.
inline constexpr uint32_t kMaxGroupTiles = 6;

// ---- the run and its decoding child -------------------------------------------------------------

enum class DecoderOp : uint32_t { measure, fill };

// A tile's width and height, in pixels.
struct WireSize {
    int32_t width = 0;
    int32_t height = 0;
};

// A mosaic's geometry, field for field as the layout of the tiles gives it.
struct WireLayout {
    int32_t tileCount = 0;
    int32_t canvasWidth = 0;
    int32_t canvasHeight = 0;
    int32_t leftWidth = 0;
    int32_t bottomHeight = 0;
    int32_t topRow = 0;
};

// How a fill ended.
enum class WireFill : uint32_t { filled, readFailed, writeFailed };

struct DecoderRequest {
    DecoderOp op = DecoderOp::measure;
    uint32_t index = 0;           // measure: which tile, in group order
    uint32_t reportProgress = 0;  // fill: send progress replies before the answer (Linux)
    WireLayout layout;            // fill: the mosaic's geometry
    uint64_t canvas = 0;          // fill: the mosaic file's handle in the worker (Windows)
};

enum class DecoderReplyKind : uint32_t {
    answer,    // the answer to a request, one for each
    measured,  // a tile's size, sent unasked in group order (Linux)
    progress,  // how far a fill has got (Linux)
    started    // from the fork server, ahead of the child: the child's process id, or none (Linux)
};

struct DecoderReply {
    DecoderReplyKind kind = DecoderReplyKind::answer;
    uint32_t ok = 0;  // measure: the tile measured; fill: the fill ran (outcome says how)
    WireSize size;
    WireFill outcome = WireFill::filled;
    uint32_t index = 0;        // measured: which tile
    int32_t pid = -1;          // started
    uint64_t mosaicBytes = 0;  // fill, progress: the mosaic's pixel bytes once the fill has
    uint64_t written = 0;      // begun, and how many of them are written
};

// ---- Windows: the greeting that opens a worker's pipe -------------------------------------------

inline constexpr uint32_t kWorkerTokenBytes = 16;

// The secret the run puts in the worker's environment and sends again in its greeting: whoever
// holds the other end of the pipe is the process that started the worker.
struct WorkerToken {
    uint8_t bytes[kWorkerTokenBytes] = {};
    friend bool operator==(const WorkerToken&, const WorkerToken&) = default;
};

struct WorkerGreeting {
    WorkerToken token;
    uint32_t tileCount = 0;
    uint64_t tiles[kMaxGroupTiles] = {};  // inherited file handles; 0 for a tile not opened
    uint64_t page = 0;                    // the inherited mapping that holds the fill's page
};

// ---- Linux: the run and the fork server, the server and the children it keeps ready -------------

inline constexpr uint32_t kMaxReleasedChildren = 16;

// A child's limits: address space and processor time, 0 for none.
struct WireLimits {
    uint64_t addressSpaceBytes = 0;
    uint64_t cpuSeconds = 0;
};

// The run asks for a child for a group's tiles (they come with the request, in group order, one
// per bit of `present`, followed by the child's end of a socket the run has made for it), and
// tells which children it is done with. tileCount 0: releases only. The answer goes over that
// socket (DecoderReplyKind::started), ahead of anything the child sends.
struct ForkRequest {
    uint32_t tileCount = 0;
    uint32_t present = 0;
    WireLimits limits;
    uint32_t releasedCount = 0;
    int32_t released[kMaxReleasedChildren] = {};
};

// What a waiting child gets from the server: its group's tiles, as in ForkRequest, and its
// socket to the run.
struct ForkAssignment {
    uint32_t tileCount = 0;
    uint32_t present = 0;
};

static_assert(std::is_trivially_copyable_v<DecoderRequest>);
static_assert(std::is_trivially_copyable_v<DecoderReply>);
static_assert(std::is_trivially_copyable_v<WorkerGreeting>);
static_assert(std::is_trivially_copyable_v<ForkRequest>);
static_assert(std::is_trivially_copyable_v<ForkAssignment>);

}  // namespace tessaro
