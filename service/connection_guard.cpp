#include "service/connection_guard.h"

#include <sys/socket.h>

#include <algorithm>

namespace glimmerly::service {

using Clock = std::chrono::steady_clock;

struct ConnectionGuard::Tracked {
    ConnectionGuard* guard = nullptr;
    int fd = -1;
    bool inRequest = false; // head complete, the request is being served
    bool cut = false;
    Clock::time_point deadline;
};

ConnectionGuard::ConnectionGuard(std::chrono::milliseconds headerTimeout,
                                 std::chrono::milliseconds keepAliveTimeout)
    : headerTimeout_(headerTimeout), keepAliveTimeout_(keepAliveTimeout),
      watchdog_([this] { Watch(); }) {}

ConnectionGuard::~ConnectionGuard() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    watchdog_.join();
}

void ConnectionGuard::OnConnection(void* cls, MHD_Connection* connection, void** socketContext,
                                   MHD_ConnectionNotificationCode code) {
    auto* guard = static_cast<ConnectionGuard*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        auto* tracked = new Tracked();
        tracked->guard = guard;
        tracked->fd = info ? info->connect_fd : -1;
        tracked->deadline = Clock::now() + guard->headerTimeout_;
        std::lock_guard lock(guard->mutex_);
        guard->connections_.insert(tracked);
        *socketContext = tracked;
        return;
    }
    auto* tracked = static_cast<Tracked*>(*socketContext);
    if (!tracked) {
        return;
    }
    {
        // The daemon closes the socket only after this notice: from here on the watchdog must
        // not touch the descriptor, which may be reused.
        std::lock_guard lock(guard->mutex_);
        guard->connections_.erase(tracked);
    }
    delete tracked;
    *socketContext = nullptr;
}

ConnectionGuard::Tracked* ConnectionGuard::TrackedOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<Tracked*>(info->socket_context) : nullptr;
}

bool ConnectionGuard::HeadComplete(MHD_Connection* connection) {
    Tracked* tracked = TrackedOf(connection);
    if (!tracked) {
        return true; // a daemon without a guard
    }
    std::lock_guard lock(tracked->guard->mutex_);
    tracked->inRequest = true;
    return !tracked->cut;
}

void ConnectionGuard::RequestDone(MHD_Connection* connection) {
    Tracked* tracked = TrackedOf(connection);
    if (!tracked) {
        return;
    }
    std::lock_guard lock(tracked->guard->mutex_);
    tracked->inRequest = false;
    tracked->deadline = Clock::now() + tracked->guard->keepAliveTimeout_;
}

void ConnectionGuard::Watch() {
    // A tenth of the deadline keeps the overshoot small without waking often.
    auto period = std::clamp<std::chrono::milliseconds>(
        headerTimeout_ / 10, std::chrono::milliseconds(20), std::chrono::milliseconds(500));
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, period);
        Clock::time_point now = Clock::now();
        for (Tracked* tracked : connections_) {
            if (!tracked->inRequest && !tracked->cut && tracked->fd >= 0 &&
                now >= tracked->deadline) {
                // Wakes the connection's thread, which then sees the end of the stream and
                // closes the connection itself.
                ::shutdown(tracked->fd, SHUT_RDWR);
                tracked->cut = true;
            }
        }
    }
}

} // namespace glimmerly::service
