#pragma once
// Closes connections whose request line and headers, or whose body, are not complete in time. An
// idle time-out alone does not stop a client that trickles one byte every few seconds; this
// watchdog gives every request head and every body a fixed deadline. At shutdown it closes the
// kept-alive connections that wait for their next request and tells when the last connection is
// gone.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_set>

#include <microhttpd.h>

namespace glimmerly::service {

class ConnectionGuard {
public:
    // headerTimeout: from accepting a connection to the end of its first request head.
    // keepAliveTimeout: from the end of one request to the end of the next request's head.
    // bodyTimeout: from the end of a request head to the end of its body.
    ConnectionGuard(std::chrono::milliseconds headerTimeout,
                    std::chrono::milliseconds keepAliveTimeout,
                    std::chrono::milliseconds bodyTimeout);
    ~ConnectionGuard();
    ConnectionGuard(const ConnectionGuard&) = delete;
    ConnectionGuard& operator=(const ConnectionGuard&) = delete;

    // The daemon's MHD_OPTION_NOTIFY_CONNECTION callback; cls is the guard.
    static void OnConnection(void* cls, MHD_Connection* connection, void** socketContext,
                             MHD_ConnectionNotificationCode code);
    // Called on the first access-handler call of a request. False when the connection was
    // already cut off: the handler answers nothing.
    static bool HeadComplete(MHD_Connection* connection);
    // Called when the request's body (if any) has arrived whole; the request is being answered.
    static void BodyComplete(MHD_Connection* connection);
    // Called when a request is finished; the connection waits for its next request head.
    static void RequestDone(MHD_Connection* connection);

    // From now on connections waiting for their next request are closed, after kDrainIdleGrace
    // and whenever one comes to wait after it. A request that arrives on one before is served.
    void Drain();
    // Waits until no connection is left or the deadline passes; true when none is left.
    bool WaitUntilNone(std::chrono::steady_clock::time_point deadline);

private:
    struct Tracked;
    static Tracked* TrackedOf(MHD_Connection* connection);
    void Watch();

    const std::chrono::milliseconds headerTimeout_;
    const std::chrono::milliseconds keepAliveTimeout_;
    const std::chrono::milliseconds bodyTimeout_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable gone_;
    bool draining_ = false;
    std::chrono::steady_clock::time_point drainStart_;
    std::unordered_set<Tracked*> connections_;
    bool stopping_ = false;
    std::thread watchdog_;
};

} // namespace glimmerly::service
