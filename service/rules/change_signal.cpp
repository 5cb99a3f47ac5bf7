#include "service/rules/change_signal.h"

#include <algorithm>

namespace glimmerly::service {

namespace {

// A reader that finds nothing to wake it still looks this often, so that a counter moved by
// hand (a restored dump) is noticed without any notice.
constexpr std::chrono::seconds kLookAnyway{30};
// After a failed read (the database away) the reader tries again this much later.
constexpr std::chrono::milliseconds kRetry{500};

} // namespace

ChangeSignal::~ChangeSignal() {
    Stop();
}

void ChangeSignal::Start(Reader reader, std::int64_t counter) {
    std::lock_guard lock(mutex_);
    reader_ = std::move(reader);
    known_ = base_ = counter;
    thread_ = std::thread([this] { ReadLoop(); });
}

void ChangeSignal::Hint() {
    std::lock_guard lock(mutex_);
    hint_ = true;
    hinted_.notify_one();
}

std::int64_t ChangeSignal::Known() {
    std::lock_guard lock(mutex_);
    return known_;
}

void ChangeSignal::ReadLoop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        hinted_.wait_for(lock, kLookAnyway, [&] { return stopping_ || hint_; });
        if (stopping_) {
            break;
        }
        hint_ = false;
        const std::int64_t after = known_;
        ChangeRead read;
        lock.unlock();
        bool ok = true;
        try {
            read = reader_(after);
        } catch (const std::exception&) {
            ok = false;
        }
        lock.lock();
        if (!ok) {
            hint_ = true;
            hinted_.wait_for(lock, kRetry, [&] { return stopping_; });
            continue;
        }
        if (read.more) {
            hint_ = true;
        }
        Take(read);
    }
}

void ChangeSignal::Take(const ChangeRead& read) {
    if (read.counter < known_) {
        // History was replaced under us: what the streams have shown no longer fits it.
        window_.clear();
        known_ = base_ = read.counter;
        ++epoch_;
        changed_.notify_all();
        return;
    }
    for (const StoredPicture& p : read.changes) {
        if (p.seq > known_ && p.seq <= read.counter) {
            window_.push_back(p);
        }
    }
    while (window_.size() > kWindow) {
        base_ = window_.front().seq;
        window_.pop_front();
    }
    if (read.counter > known_) {
        known_ = read.counter;
        changed_.notify_all();
    }
}

std::int64_t ChangeSignal::Wait(std::int64_t seen, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return stopping_ || known_ > seen; });
    return std::max(known_, seen);
}

ChangeBatch ChangeSignal::Next(std::string_view session, std::int64_t after, std::uint64_t& epoch,
                               Deadline deadline) {
    std::unique_lock lock(mutex_);
    ChangeBatch batch;
    if (epoch == 0) {
        epoch = epoch_;
        if (after > known_ && !stopping_) {
            // A position beyond the counter read: the page was made before an older state was
            // restored (the epoch it would have seen end is gone with it), or from a change this
            // instance has not read yet. The session again is right for both.
            hint_ = true;
            hinted_.notify_one();
            batch.kind = ChangeBatch::Kind::Resync;
            batch.upto = known_;
            return batch;
        }
    }
    for (;;) {
        if (stopping_) {
            batch.kind = ChangeBatch::Kind::Stopping;
            return batch;
        }
        batch.upto = std::max(after, known_);
        if (epoch != epoch_) {
            epoch = epoch_;
            batch.kind = ChangeBatch::Kind::Resync;
            batch.upto = known_;
            return batch;
        }
        if (after < base_) {
            batch.kind = ChangeBatch::Kind::Behind;
            return batch;
        }
        auto it =
            std::upper_bound(window_.begin(), window_.end(), after,
                             [](std::int64_t seq, const StoredPicture& p) { return seq < p.seq; });
        for (; it != window_.end(); ++it) {
            if (it->session == session) {
                batch.pictures.push_back(*it);
            }
        }
        after = batch.upto;
        if (!batch.pictures.empty()) {
            batch.kind = ChangeBatch::Kind::Changes;
            return batch;
        }
        if (!changed_.wait_until(lock, deadline,
                                 [&] { return stopping_ || epoch != epoch_ || known_ > after; })) {
            batch.kind = ChangeBatch::Kind::Idle;
            return batch;
        }
    }
}

bool ChangeSignal::Admit(const std::string& session, const std::string& address,
                         unsigned perSession, unsigned perAddress) {
    std::lock_guard lock(mutex_);
    unsigned& bySession = perSession_[session];
    unsigned& byAddress = perAddress_[address];
    if (bySession >= perSession || byAddress >= perAddress) {
        if (bySession == 0) {
            perSession_.erase(session);
        }
        if (byAddress == 0) {
            perAddress_.erase(address);
        }
        return false;
    }
    ++bySession;
    ++byAddress;
    return true;
}

void ChangeSignal::Leave(const std::string& session, const std::string& address) {
    std::lock_guard lock(mutex_);
    auto drop = [](std::map<std::string, unsigned>& counts, const std::string& key) {
        auto it = counts.find(key);
        if (it != counts.end() && --it->second == 0) {
            counts.erase(it);
        }
    };
    drop(perSession_, session);
    drop(perAddress_, address);
}

void ChangeSignal::Shutdown() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
    hinted_.notify_all();
}

bool ChangeSignal::ShuttingDown() {
    std::lock_guard lock(mutex_);
    return stopping_;
}

void ChangeSignal::Stop() {
    Shutdown();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    }
}

} // namespace glimmerly::service
