#pragma once
// Closes connections whose request line and headers are not complete in time. An idle time-out
// alone does not stop a client that trickles one byte every few seconds; this watchdog gives every
// request head a fixed deadline, while a body that keeps moving may take longer.

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
    ConnectionGuard(std::chrono::milliseconds headerTimeout,
                    std::chrono::milliseconds keepAliveTimeout);
    ~ConnectionGuard();
    ConnectionGuard(const ConnectionGuard&) = delete;
    ConnectionGuard& operator=(const ConnectionGuard&) = delete;

    // The daemon's MHD_OPTION_NOTIFY_CONNECTION callback; cls is the guard.
    static void OnConnection(void* cls, MHD_Connection* connection, void** socketContext,
                             MHD_ConnectionNotificationCode code);
    // Called on the first access-handler call of a request. False when the connection was
    // already cut off: the handler answers nothing.
    static bool HeadComplete(MHD_Connection* connection);
    // Called when a request is finished; the connection waits for its next request head.
    static void RequestDone(MHD_Connection* connection);

private:
    struct Tracked;
    static Tracked* TrackedOf(MHD_Connection* connection);
    void Watch();

    const std::chrono::milliseconds headerTimeout_;
    const std::chrono::milliseconds keepAliveTimeout_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::unordered_set<Tracked*> connections_;
    bool stopping_ = false;
    std::thread watchdog_;
};

} // namespace glimmerly::service
