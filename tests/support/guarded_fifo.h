#pragma once
// A named pipe for tests of code that must never wait on one. Should the code under test block in
// open() or read() all the same, a writer comes after `patience`, opens the pipe and closes it at
// once, so that the test ends (and fails on WriterWasNeeded) instead of hanging.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace glimmerly::testing {

class GuardedFifo {
public:
    explicit GuardedFifo(std::string path,
                         std::chrono::milliseconds patience = std::chrono::seconds(10))
        : path_(std::move(path)) {
        if (::mkfifo(path_.c_str(), 0600) != 0)
            throw std::runtime_error("no named pipe for the test: " + path_);
        guard_ = std::thread([this, patience] {
            std::unique_lock lock(mutex_);
            while (!wake_.wait_for(lock, patience, [this] { return stopped_; })) {
                const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    // Somebody reads (or waits to): end of file for them.
                    writerNeeded_ = true;
                    ::close(fd);
                }
            }
        });
    }
    ~GuardedFifo() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        wake_.notify_all();
        guard_.join();
    }
    GuardedFifo(const GuardedFifo&) = delete;
    GuardedFifo& operator=(const GuardedFifo&) = delete;

    const std::string& Path() const { return path_; }
    bool WriterWasNeeded() const {
        std::lock_guard lock(mutex_);
        return writerNeeded_;
    }

private:
    std::string path_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopped_ = false;
    bool writerNeeded_ = false;
    std::thread guard_;
};

} // namespace glimmerly::testing
