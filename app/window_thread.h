#pragma once
// Runs a routine on the window thread, waiting for it or only queueing it: the way the upload job
// reaches the main window, so that its updates keep their order. Shutdown() releases every
// waiting caller, so a closing window never deadlocks with a job that waits for it.

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <functional>
#include <mutex>

namespace glimmerly {

class WindowThread {
public:
    explicit WindowThread(QObject* context) : context_(context) {}

    // Runs `routine` on the context's thread (directly when already there) and returns once it
    // has run; an exception it throws is thrown here. Returns false, without running it, once
    // Shutdown() has been called.
    bool Run(const std::function<void()>& routine);
    // Queues `routine` for the context's thread and returns at once (runs it directly when
    // already there); queued routines and Run() calls keep their order. What it throws there is
    // dropped. Returns false, without queueing it, once Shutdown() has been called.
    bool Post(std::function<void()> routine);

    void Shutdown();
    bool IsShutDown() const;

private:
    QPointer<QObject> context_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool shutDown_ = false;
};

} // namespace glimmerly
