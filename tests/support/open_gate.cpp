#include "open_gate.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <cerrno>

namespace tessaro::testing {

OpenGate::OpenGate(const std::string& path) {
    file_ = UniqueFd(open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!file_) return;
    fanotify_ = UniqueFd(fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC));
    if (fanotify_ &&
        fanotify_mark(fanotify_.get(), FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD, path.c_str()) != 0)
        fanotify_.reset();
}

void OpenGate::Serve(const std::function<void(int)>& beforeOpen, const std::atomic<bool>& done) {
    if (!fanotify_) return;
    alignas(fanotify_event_metadata) char buffer[4096];
    while (!done.load()) {
        pollfd wait{fanotify_.get(), POLLIN, 0};
        if (poll(&wait, 1, 20) <= 0) continue;
        const ssize_t got = read(fanotify_.get(), buffer, sizeof buffer);
        if (got <= 0) continue;
        auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
        for (ssize_t left = got; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
            if ((event->mask & FAN_OPEN_PERM) && event->pid != getpid()) beforeOpen(++opens_);
            fanotify_response answer{event->fd, FAN_ALLOW};
            if (event->mask & (FAN_OPEN_PERM | FAN_ACCESS_PERM))
                static_cast<void>(write(fanotify_.get(), &answer, sizeof answer));
            if (event->fd >= 0) close(event->fd);
        }
    }
    // Closing the group lets anything still waiting through.
    fanotify_.reset();
}

bool OpenGate::Rewrite(std::string_view bytes) {
    if (ftruncate(file_.get(), 0) != 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = pwrite(file_.get(), bytes.data() + done, bytes.size() - done,
                                   static_cast<off_t>(done));
        if (put <= 0 && errno != EINTR) return false;
        if (put > 0) done += static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace tessaro::testing
