#include "service/rules/session_purge.h"

#include <cstdio>
#include <exception>

#include "service/rules/picture_store.h"

namespace glimmerly::service {

SessionPurge::SessionPurge(PictureStore& store, std::chrono::milliseconds retention)
    : store_(store), retention_(retention), thread_([this] { Run(); }) {}

SessionPurge::~SessionPurge() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void SessionPurge::Run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        try {
            if (std::int64_t n = store_.PurgeSessions(retention_)) {
                std::fprintf(stderr, "glimmerly-service: deleted %lld expired session(s)\n",
                             static_cast<long long>(n));
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "glimmerly-service: cannot delete expired sessions: %s\n",
                         e.what());
        }
        lock.lock();
        wake_.wait_for(lock, std::chrono::hours(1), [this] { return stopping_; });
    }
}

} // namespace glimmerly::service
