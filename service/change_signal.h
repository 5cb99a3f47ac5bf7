#pragma once
// The newest change an instance knows of, and the waiting for the next one: the live pages wait
// here until an upload or rename (of this instance or, through the back end, of another) moves
// the count past what they have shown.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace glimmerly::service {

class ChangeSignal {
public:
    explicit ChangeSignal(std::int64_t known = 0) : known_(known) {}

    // A change up to seq is committed; wakes the waiters when that is news.
    void Known(std::int64_t seq);
    // Waits until a change beyond seen is known, the time-out passes or Shutdown is called;
    // returns the highest change known, at least seen.
    std::int64_t Wait(std::int64_t seen, std::chrono::milliseconds timeout);
    // Wakes every waiter for good.
    void Shutdown();
    bool ShuttingDown();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::int64_t known_;
    bool stopping_ = false;
};

} // namespace glimmerly::service
