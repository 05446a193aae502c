// The misbehaviour the tests can ask of a decoding child, through the environment variable
// TESSARO_TEST_DECODER: "crash", "abort", "spin" (under a processor limit of one second) or "hog"
// (memory) make the child misbehave before its first answer, to show that only its group pays;
// "slow" makes it pause a quarter of a second after each band it writes, to show its progress.
// Nothing else in the program knows these modes by name.
#pragma once

#include <memory>
#include <string_view>

#include "decode/fill_meter.h"
#include "sandbox/limits.h"

namespace tessaro {

// The mode asked for; empty when unset.
std::string_view DecoderTestMode();

// The limits a child runs under for `mode`: `limits`, with one second of processor time for
// "spin".
DecoderLimits LimitsForTestMode(const DecoderLimits& limits, std::string_view mode);

// In the child, before its first answer: crashes, aborts, spins or exhausts its memory as `mode`
// asks; returns at once for any other mode.
void MisbehaveForTest(std::string_view mode);

// In a Linux child, for the modes that probe its confinement ("open-file", "stat-path",
// "run-program", "signal", "setown", "async", "raise-limits", "privileges"): tries that one
// thing, through `channel` where it needs a descriptor, and ends the child when it is refused;
// returns when it was allowed (or for any other mode).
void ProbeConfinementForTest(std::string_view mode, int channel);

// In the child, for "slow": a fill meter that passes everything on to `meter` (if any) and pauses
// a quarter of a second after each band. Null for any other mode.
std::unique_ptr<FillMeter> PausingMeterForTestMode(std::string_view mode, FillMeter* meter);

}  // namespace tessaro
