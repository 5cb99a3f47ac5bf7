#include "window_thread.h"

#include <QMetaObject>
#include <QThread>

#include <exception>
#include <memory>

namespace glimmerly {
namespace {

struct Call {
    std::function<void()> routine;
    std::exception_ptr error;
    bool done = false;
    bool abandoned = false;
};

} // namespace

bool WindowThread::Run(const std::function<void()>& routine) {
    if (IsShutDown() || !context_)
        return false;
    if (QThread::currentThread() == context_->thread()) {
        routine();
        return true;
    }
    auto call = std::make_shared<Call>();
    call->routine = routine;
    QMetaObject::invokeMethod(
        context_.data(),
        [this, call] {
            {
                // Once shut down the caller returns without waiting (or already has): the
                // routine may refer to its stack.
                std::lock_guard lock(mutex_);
                if (call->abandoned || shutDown_)
                    return;
            }
            try {
                call->routine();
            } catch (...) {
                call->error = std::current_exception();
            }
            std::lock_guard lock(mutex_);
            call->done = true;
            wake_.notify_all();
        },
        Qt::QueuedConnection);

    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return call->done || shutDown_; });
    if (!call->done) {
        call->abandoned = true;
        return false;
    }
    if (call->error)
        std::rethrow_exception(call->error);
    return true;
}

bool WindowThread::Post(std::function<void()> routine) {
    if (IsShutDown() || !context_)
        return false;
    if (QThread::currentThread() == context_->thread()) {
        routine();
        return true;
    }
    QMetaObject::invokeMethod(
        context_.data(),
        [this, routine = std::move(routine)] {
            if (IsShutDown())
                return;
            try {
                routine();
            } catch (...) {
            }
        },
        Qt::QueuedConnection);
    return true;
}

void WindowThread::Shutdown() {
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    wake_.notify_all();
}

bool WindowThread::IsShutDown() const {
    std::lock_guard lock(mutex_);
    return shutDown_;
}

} // namespace glimmerly
