// The channel between the run and a Windows decoding worker, besides the records on it
// (protocol.h). The run starts tessaro.exe with kWorkerVariable set to "<handle>:<token>": the
// handle is the worker's end of a message pipe, inherited; the token (hexadecimal) must match the
// one the run sends first, in its WorkerGreeting, which names the other handles the worker
// inherited. Every later message from the run is a DecoderRequest, and the worker answers each
// with a DecoderReply; meanwhile it counts a fill's progress in a shared FillPage.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "os/unique_handle_win.h"
#include "sandbox/protocol.h"

namespace tessaro {

inline constexpr wchar_t kWorkerVariable[] = L"TESSARO_DECODER_CHANNEL";

// The page, shared by the worker and its parent, in which the worker counts its fill: the
// mosaic's pixel bytes (0 until the fill begins) and how many of them it has written.
struct FillPage {
    std::atomic<uint64_t> mosaicBytes{0};
    std::atomic<uint64_t> written{0};
};

// The variable's value for a pipe handle and a token, and the two read back from it.
std::wstring WorkerSetting(uint64_t pipe, const WorkerToken& token);
struct WorkerChannelName {
    uint64_t pipe = 0;
    WorkerToken token;
};
std::optional<WorkerChannelName> ParseWorkerSetting(const std::wstring& setting);

// ---- the run's end of the pipe ------------------------------------------------------------------

struct PipeEnds {
    UniqueHandle parent;  // the server end, for overlapped use
    UniqueHandle worker;  // the client end, inheritable
};

// A message pipe of one instance under a fresh name, its server end connected to a client end
// this process opened itself (checked, so nobody else got there first).
std::optional<PipeEnds> MakePipe();

// Writes or reads one whole message on the run's end of the pipe, waiting no later than
// `deadline` and no longer than until an interrupt; `tick`, if set, runs ten times a second
// meanwhile. False when the message did not go through whole (then the transfer is cancelled).
bool Transfer(HANDLE pipe, HANDLE done, bool write, void* data, DWORD size,
              std::chrono::steady_clock::time_point deadline, const std::function<void()>& tick);

}  // namespace tessaro
