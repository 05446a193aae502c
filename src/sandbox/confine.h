// Confinement of the decoding child: once confined, a process can read and write the descriptors
// (handles) it holds, allocate memory and run threads, and nothing else. It cannot open a file,
// name a path, run a program, make a socket, signal another process or change its own limits;
// its memory and processor time are capped (limits.h), it leaves no core dump, and on Linux it
// has no privileges (a run as root gives it an identity of no other use).
//
// On Linux the child confines itself, right after the fork and before it reads a byte: a
// system-call filter (confine_seccomp_posix.cpp) and resource limits (confine_rlimits_posix.cpp),
// which its parent may raise later. On Windows the run confines the worker from outside, before
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

// In a freshly forked child: it dies with its parent, cannot be inspected, leaves no core, runs
// under `limits` and then under the system-call filter (all its threads must be created after
// this). False when any of that fails; the caller must then not decode.
bool ConfineDecoder(const DecoderLimits& limits);

// Builds the system-call filter once, ahead of the children that install it (call it before
// forking; each child would otherwise build it itself).
void PrepareDecoderFilter();

// Installs the filter in the calling process, for good.
bool InstallDecoderFilter();

// Sets the soft limits of process `pid` (0: the calling one) within the hard ones inherited:
// a confined child's from its parent, which may raise them; the filter keeps the child itself
// from changing them.
bool SetDecoderLimits(int pid, const DecoderLimits& limits);

// No core file for the calling process, ever.
bool ForbidCoreDumps();

// A process of a run as root becomes a user and group of no other use, with no supplementary
// groups and no capabilities (confine_identity_posix.cpp); anyone else's stays as it is.
bool DropPrivileges();

#endif

}  // namespace tessaro
