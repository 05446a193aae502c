// Switches the tests set through the environment, to stop the run at a step or make its decoding
// child misbehave. They exist only in builds made with TESSARO_TEST_HOOKS (the tests' builds); a
// release build has none, so no environment variable a user did not ask for changes what it does.
#pragma once

#include <string_view>

namespace tessaro {

enum class TestSwitch {
    pauseAt,        // the step at which the run stops itself (see PauseForTest)
    decoderMode,    // how the decoding child misbehaves (see sandbox/test_modes.h)
    lockWaitMillis  // how long a run waits for a directory another run holds
};

// The switch's setting, or empty when it is not set (always, in a release build).
std::string_view TestSetting(TestSwitch which);

}  // namespace tessaro
