// What a Windows decoding worker and its parent agree on. The parent starts tessaro.exe with
// kWorkerVariable set to "<handle>:<token>": the handle is the worker's end of a message pipe,
// inherited; the token (hexadecimal) must match the one the parent sends first, in its greeting,
// which names the other handles the worker inherited. Every later message from the parent is a
// WorkerRequest, and the worker answers each with a DecoderReply; meanwhile it counts a fill's
// progress in a shared FillPage.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "sandbox/decoder_service.h"

namespace tessaro {

inline constexpr wchar_t kWorkerVariable[] = L"TESSARO_DECODER_CHANNEL";
inline constexpr std::size_t kMaxWorkerTiles = 6;
inline constexpr std::size_t kWorkerTokenBytes = 16;

struct WorkerToken {
    uint8_t bytes[kWorkerTokenBytes] = {};
    friend bool operator==(const WorkerToken&, const WorkerToken&) = default;
};

// The page, shared by the worker and its parent, in which the worker counts its fill: the
// mosaic's pixel bytes (0 until the fill begins) and how many of them it has written.
struct FillPage {
    std::atomic<uint64_t> mosaicBytes{0};
    std::atomic<uint64_t> written{0};
};

struct WorkerGreeting {
    WorkerToken token;
    uint32_t tileCount = 0;
    uint64_t tiles[kMaxWorkerTiles] = {};  // inherited file handles; 0 for a tile not opened
    uint64_t page = 0;                     // the inherited mapping that holds the FillPage
};

struct WorkerRequest {
    DecoderRequest request;
    uint64_t canvas = 0;  // a fill: the mosaic file's handle, duplicated into the worker
};

// The variable's value for a pipe handle and a token, and the two read back from it.
std::wstring WorkerSetting(uint64_t pipe, const WorkerToken& token);
struct WorkerChannelName {
    uint64_t pipe = 0;
    WorkerToken token;
};
std::optional<WorkerChannelName> ParseWorkerSetting(const std::wstring& setting);

}  // namespace tessaro
