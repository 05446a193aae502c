// Confinement of the decoding child: once confined, a process can read and write the descriptors
// (handles) it holds, allocate memory and run threads, and nothing else. It cannot open a file,
// run a program, make a socket or signal another process; its memory and processor time are
// capped (limits.h) and it leaves no core dump.
//
// On Linux the child confines itself, right after the fork and before it reads a byte: a
// system-call filter and resource limits, which its parent may raise later (confine_posix.cpp). On Windows the run confines the worker from outside, before
// it runs an instruction: a job object (confine_job_win.cpp) and a restricted token
// (confine_token_win.cpp).
#pragma once

#include "sandbox/limits.h"

#ifdef _WIN32
#include "os/unique_handle_win.h"
#endif

namespace tessaro {

#ifdef _WIN32

// A job object for one worker, under `limits`: it ends the worker when the job's last handle
// closes or the worker crashes, lets it start no process and keeps it off the desktop, the
// clipboard and the system's settings where the system allows. Empty when it cannot be made.
UniqueHandle MakeDecoderJob(const DecoderLimits& limits);

// Sets the job's memory and processor-time limits (and its other limits again).
bool SetDecoderJobLimits(HANDLE job, const DecoderLimits& limits);

// This process's token without its privileges, at low integrity where the system allows (so the
// worker cannot open a file for writing); empty when no such token can be made.
UniqueHandle RestrictedDecoderToken();

#else

// Applies the limits (as soft limits, which the parent may raise with prlimit up to the hard ones
// inherited; the filter keeps the child itself from changing them) and the system-call filter to
// the calling process (all its threads must be created after this). False when the filter cannot
// be installed; the caller must then not decode.
bool ConfineDecoder(const DecoderLimits& limits);

// Builds the system-call filter once, ahead of the children that install it (call it before
// forking; ConfineDecoder would otherwise build it in every child).
void PrepareDecoderFilter();

// Sets the soft limits of a confined child from its parent.
bool SetDecoderLimits(int pid, const DecoderLimits& limits);

#endif

}  // namespace tessaro
