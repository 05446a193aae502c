// What a system error is called, for the lines that report one.
#pragma once

#include <string>

namespace tessaro {

// The reason an errno value stands for ("No such file or directory"), in the user's language
// where the system has a translation: on Linux the messages of the locale the environment names
// (LC_ALL, LC_MESSAGES, LANG), in its encoding, as the console takes it; on Windows the system's
// message for the matching Windows error in the user interface's language, as UTF-8.
std::string ErrorReason(int error);

}  // namespace tessaro
