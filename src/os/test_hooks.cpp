#include "os/test_hooks.h"

#include <cstdlib>

namespace tessaro {

std::string_view TestSetting([[maybe_unused]] TestSwitch which) {
#ifdef TESSARO_TEST_HOOKS
    const char* name = which == TestSwitch::pauseAt       ? "TESSARO_TEST_PAUSE"
                       : which == TestSwitch::decoderMode ? "TESSARO_TEST_DECODER"
                                                          : "TESSARO_TEST_LOCK_WAIT";
    if (const char* value = std::getenv(name)) return value;
#endif
    return {};
}

}  // namespace tessaro
