#include "service/change_signal.h"

#include <algorithm>

namespace glimmerly::service {

void ChangeSignal::Known(std::int64_t seq) {
    std::lock_guard lock(mutex_);
    if (seq > known_) {
        known_ = seq;
        changed_.notify_all();
    }
}

std::int64_t ChangeSignal::Wait(std::int64_t seen, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return stopping_ || known_ > seen; });
    return std::max(known_, seen);
}

void ChangeSignal::Shutdown() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
}

bool ChangeSignal::ShuttingDown() {
    std::lock_guard lock(mutex_);
    return stopping_;
}

} // namespace glimmerly::service
