#include "service/http/connection_guard.h"

#include <sys/socket.h>

#include <algorithm>

namespace glimmerly::service {

using Clock = std::chrono::steady_clock;

namespace {

// How long kept-alive connections may still bring a request after a stop began: a balancer
// sends on its idle connections until its health check has seen the instance go, and a request
// that meets a connection being closed is lost (its client gets a 502), so they are served, with
// "Connection: close", for this long before the idle ones are closed.
constexpr std::chrono::milliseconds kDrainIdleGrace{1000};

// True when bytes of a next request wait on the socket, so that closing it would drop them.
bool RequestWaiting(int fd) {
    char byte;
    return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

} // namespace

struct ConnectionGuard::Tracked {
    enum class Phase {
        Head,    // waiting for a request line and headers, the deadline applies
        Body,    // receiving the body, the deadline applies
        Serving, // the request is being answered: no deadline
    };
    ConnectionGuard* guard = nullptr;
    int fd = -1;
    Phase phase = Phase::Head;
    bool keptAlive = false; // has answered a request and waits for the next
    bool cut = false;
    Clock::time_point deadline;
};

ConnectionGuard::ConnectionGuard(std::chrono::milliseconds headerTimeout,
                                 std::chrono::milliseconds keepAliveTimeout,
                                 std::chrono::milliseconds bodyTimeout)
    : headerTimeout_(headerTimeout), keepAliveTimeout_(keepAliveTimeout), bodyTimeout_(bodyTimeout),
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
        if (guard->connections_.empty()) {
            guard->gone_.notify_all();
        }
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
    tracked->phase = Tracked::Phase::Body;
    tracked->keptAlive = false;
    tracked->deadline = Clock::now() + tracked->guard->bodyTimeout_;
    return !tracked->cut;
}

void ConnectionGuard::BodyComplete(MHD_Connection* connection) {
    Tracked* tracked = TrackedOf(connection);
    if (!tracked) {
        return;
    }
    std::lock_guard lock(tracked->guard->mutex_);
    tracked->phase = Tracked::Phase::Serving;
}

void ConnectionGuard::RequestDone(MHD_Connection* connection) {
    Tracked* tracked = TrackedOf(connection);
    if (!tracked) {
        return;
    }
    {
        std::lock_guard lock(tracked->guard->mutex_);
        tracked->phase = Tracked::Phase::Head;
        tracked->keptAlive = true;
        tracked->deadline = Clock::now() + tracked->guard->keepAliveTimeout_;
    }
    tracked->guard->wake_.notify_all();
}

void ConnectionGuard::Drain() {
    {
        std::lock_guard lock(mutex_);
        draining_ = true;
        drainStart_ = Clock::now();
    }
    wake_.notify_all();
}

bool ConnectionGuard::WaitUntilNone(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return gone_.wait_until(lock, deadline, [this] { return connections_.empty(); });
}

void ConnectionGuard::Watch() {
    // A tenth of the deadline keeps the overshoot small without waking often.
    auto period = std::clamp<std::chrono::milliseconds>(std::min(headerTimeout_, bodyTimeout_) / 10,
                                                        std::chrono::milliseconds(20),
                                                        std::chrono::milliseconds(500));
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, period);
        Clock::time_point now = Clock::now();
        for (Tracked* tracked : connections_) {
            bool late = tracked->phase != Tracked::Phase::Serving && now >= tracked->deadline;
            bool idleAtShutdown = draining_ && now >= drainStart_ + kDrainIdleGrace &&
                                  tracked->phase == Tracked::Phase::Head && tracked->keptAlive &&
                                  !RequestWaiting(tracked->fd);
            if ((late || idleAtShutdown) && !tracked->cut && tracked->fd >= 0) {
                // Wakes the connection's thread, which then sees the end of the stream and
                // closes the connection itself.
                ::shutdown(tracked->fd, SHUT_RDWR);
                tracked->cut = true;
            }
        }
    }
}

} // namespace glimmerly::service
