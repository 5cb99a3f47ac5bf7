#pragma once
// The changes of pictures as one instance knows them, read once for all of its live pages: a
// reader thread reads the change counter and the pictures changed since its last read whenever
// it is told that something may have changed, keeps the newest changes in change order, and
// wakes the streams, which pick their session's pictures out of that window. What it is told
// is a hint only (a notice's payload can be anything); what counts is what it reads. A counter
// that went backwards (an older dump restored) starts a new epoch, after which every stream
// sends its session afresh.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "service/storage/stored_picture.h"

namespace glimmerly::service {

// What one read found: the committed counter and the pictures whose last change lies between
// the previous read and it, in change order (when the read was cut short by a limit, counter is
// the seq of the last picture read).
struct ChangeRead {
    std::int64_t counter = 0;
    std::vector<StoredPicture> changes;
    bool more = false; // cut short: read again
};

// What a live stream gets from ChangeSignal::Next.
struct ChangeBatch {
    enum class Kind {
        Changes, // pictures of the session, in change order
        Idle,    // nothing for the session before the deadline
        Behind,  // the stream's position is older than the window: read the session itself
        Resync,  // the counter went backwards: send the whole session again
        Stopping,
    };
    Kind kind = Kind::Idle;
    std::vector<StoredPicture> pictures;
    // Every change up to here is covered (the stream's new position).
    std::int64_t upto = 0;
};

class ChangeSignal {
public:
    using Reader = std::function<ChangeRead(std::int64_t after)>;
    using Deadline = std::chrono::steady_clock::time_point;

    // Changes kept for the streams; a stream further behind reads its session itself.
    static constexpr std::size_t kWindow = 4096;

    ChangeSignal() = default;
    ~ChangeSignal();
    ChangeSignal(const ChangeSignal&) = delete;
    ChangeSignal& operator=(const ChangeSignal&) = delete;

    // Starts the reader at the counter as it is now.
    void Start(Reader reader, std::int64_t counter);
    // Something may have changed: the reader looks (several hints before it looks are one look).
    void Hint();
    // The counter as last read.
    std::int64_t Known();

    // Waits until the counter read is beyond seen, the time-out passes or Shutdown is called;
    // returns the counter read, at least seen.
    std::int64_t Wait(std::int64_t seen, std::chrono::milliseconds timeout);
    // The next changes of session after the position after, for a stream of the epoch it holds
    // (0 at first: the stream then joins the current one).
    ChangeBatch Next(std::string_view session, std::int64_t after, std::uint64_t& epoch,
                     Deadline deadline);

    // A place for one more stream of this session and client address; false when either has
    // its limit of streams open. Every admitted stream calls Leave when it ends.
    bool Admit(const std::string& session, const std::string& address, unsigned perSession,
               unsigned perAddress);
    void Leave(const std::string& session, const std::string& address);

    // Wakes every waiter for good and stops the reader; Stop also waits for it to end.
    void Shutdown();
    bool ShuttingDown();
    void Stop();

private:
    void ReadLoop();
    void Take(const ChangeRead& read);

    std::mutex mutex_;
    std::condition_variable changed_; // the streams and waiters
    std::condition_variable hinted_;  // the reader
    Reader reader_;
    std::thread thread_;
    bool hint_ = false;
    bool stopping_ = false;
    std::int64_t known_ = 0;
    std::int64_t base_ = 0; // every change above base_ is in window_
    std::uint64_t epoch_ = 1;
    std::deque<StoredPicture> window_;
    std::map<std::string, unsigned> perSession_;
    std::map<std::string, unsigned> perAddress_;
};

} // namespace glimmerly::service
