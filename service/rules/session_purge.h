#pragma once
// The retention of expired sessions: those that expired more than the retention ago are deleted
// at start, then every hour, until the service stops (their pictures stay). Every instance on a
// shared database does it; the deletes are idempotent.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace glimmerly::service {

class PictureStore;

class SessionPurge {
public:
    SessionPurge(PictureStore& store, std::chrono::milliseconds retention);
    ~SessionPurge(); // waits for a purge under way
    SessionPurge(const SessionPurge&) = delete;
    SessionPurge& operator=(const SessionPurge&) = delete;

private:
    void Run();

    PictureStore& store_;
    const std::chrono::milliseconds retention_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_; // last: starts when the rest is ready
};

} // namespace glimmerly::service
