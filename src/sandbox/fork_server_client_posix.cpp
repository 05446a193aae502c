// The run's side of the fork server (fork_server_posix.h): starting it, asking it for children,
// and letting go of them.
#include "sandbox/fork_server_posix.h"

#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <vector>

#include "sandbox/protocol.h"
#include "sandbox/socket_message_posix.h"

namespace tessaro::decoder_detail {

namespace {

struct Client {
    std::mutex mutex;   // guards what follows
    int control = -1;   // the run's end of the socket to the server, kept open while it runs
    pid_t server = -1;
    bool gone = false;  // the server did not answer
    std::vector<int32_t> released;  // to be sent with the next request
    // At the end of the run: the server sees the socket close, ends its children and goes; it is
    // reaped here, so that its processor time (and its children's) counts as the run's.
    ~Client() {
        if (control < 0) return;
        close(control);
        int status;
        while (waitpid(server, &status, 0) < 0 && errno == EINTR) {
        }
    }
};

Client& TheClient() {
    static Client client;
    return client;
}

// Sends the released children (those beyond what one request carries first); false when the
// server is gone. The client's mutex is held.
bool SendReleases(Client& client, ForkRequest& request) {
    while (client.released.size() > kMaxReleasedChildren) {
        ForkRequest releases{};
        releases.releasedCount = kMaxReleasedChildren;
        std::copy_n(client.released.end() - kMaxReleasedChildren, kMaxReleasedChildren, releases.released);
        client.released.resize(client.released.size() - kMaxReleasedChildren);
        if (!SendMessage(client.control, &releases, sizeof releases)) return false;
    }
    request.releasedCount = static_cast<uint32_t>(client.released.size());
    std::copy(client.released.begin(), client.released.end(), request.released);
    client.released.clear();
    return true;
}

}  // namespace

bool StartForkServer() {
    static const bool started = [] {
        Client& client = TheClient();
        // Should the server die before the run, its children come to the run, which never reaps
        // them: their process ids stay theirs until the run ends.
        if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) return false;
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return false;
        const pid_t pid = fork();
        if (pid == 0) RunForkServer(ends[1]);
        close(ends[1]);
        if (pid < 0) {
            close(ends[0]);
            return false;
        }
        client.control = ends[0];
        client.server = pid;
        return true;
    }();
    return started;
}

bool ForkThroughServer(const std::vector<UniqueFd>& tiles, const DecoderLimits& limits, int socket) {
    Client& client = TheClient();
    if (tiles.empty() || tiles.size() > kMaxGroupTiles) return false;
    ForkRequest request{};
    request.tileCount = static_cast<uint32_t>(tiles.size());
    request.limits = {limits.addressSpaceBytes, limits.cpuSeconds};
    std::vector<int> fds;
    for (std::size_t i = 0; i < tiles.size(); ++i)
        if (tiles[i]) {
            request.present |= 1u << i;
            fds.push_back(tiles[i].get());
        }
    fds.push_back(socket);
    const std::lock_guard<std::mutex> lock(client.mutex);
    if (client.control < 0 || client.gone) return false;
    if (!SendReleases(client, request) || !SendMessage(client.control, &request, sizeof request, fds)) {
        client.gone = true;
        return false;
    }
    return true;
}

void ReleaseServedChild(pid_t pid) {
    Client& client = TheClient();
    const std::lock_guard<std::mutex> lock(client.mutex);
    if (!client.gone) client.released.push_back(pid);
}

}  // namespace tessaro::decoder_detail
