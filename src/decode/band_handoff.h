// Passes the bands of one tile, decoded on a thread of its own, to the thread that writes them:
// one band at a time, the decoder waiting until the writer is done with it, so no more than one
// band of that tile is ever in memory.
#pragma once

#include <condition_variable>
#include <mutex>

#include "tiff/tiff_reader.h"

namespace tessaro {

class BandHandoff {
public:
    // Decoder side. Offer is the decoder's band sink: it waits until the writer is done with the
    // band, and returns false once the writer wants no more. Finish reports how decoding ended.
    bool Offer(const TileBand& band);
    void Finish(ReadOutcome outcome);

    // Writer side. Wait returns the next band, or nullptr once the decoder has finished (then
    // outcome() says how); Done releases the band Wait returned; Stop asks for no more bands.
    const TileBand* Wait();
    void Done();
    void Stop();
    ReadOutcome outcome();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    const TileBand* band_ = nullptr;
    bool finished_ = false;
    bool stopped_ = false;
    ReadOutcome outcome_ = ReadOutcome::ok;
};

}  // namespace tessaro
