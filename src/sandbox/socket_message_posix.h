// Whole messages over a SOCK_SEQPACKET socket, with descriptors passed beside them (SCM_RIGHTS):
// how the run, the fork server and the decoding children talk.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "os/unique_fd.h"

namespace tessaro {

// The most descriptors one message carries: a group's tiles and one more.
inline constexpr std::size_t kMaxPassedFds = 7;

// Sends `size` bytes and the descriptors `fds` (at most kMaxPassedFds) as one message.
bool SendMessage(int socket, const void* data, std::size_t size, std::span<const int> fds = {});

// Receives one message, which must be exactly `size` bytes. The descriptors that came with it are
// appended to *fds (close-on-exec), or closed when fds is null; a message with more than
// kMaxPassedFds of them fails.
bool ReceiveMessage(int socket, void* data, std::size_t size, std::vector<UniqueFd>* fds = nullptr);

}  // namespace tessaro
