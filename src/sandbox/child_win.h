// The decoding child on Windows: tessaro.exe started in worker mode by DecoderChild::Start
// (client_win.cpp) to decode one group. main() asks first thing, before it looks at its command
// line.
#pragma once

namespace tessaro {

// When this process was started as a decoding worker (its environment names the end of a pipe it
// inherited, and whoever holds the other end proves it set that name), serves its parent until
// the parent lets go, then returns true: main() returns at once. In any other run it returns
// false at once, and no command line changes that. The worker prints nothing.
bool RunDecoderWorkerIfAsked();

}  // namespace tessaro
