#pragma once
// The application object: it shows errors that escape an event handler in the default error
// display and goes on, and it runs the application-wide message hook before every event is
// dispatched.

#include <QApplication>

#include <functional>

namespace glimmerly {

class GlimmerlyApplication : public QApplication {
public:
    GlimmerlyApplication(int& argc, char** argv);

    // Sees every event before its receiver; returning true marks it handled (not dispatched).
    using MessageHook = std::function<bool(QObject* receiver, QEvent* event)>;
    void SetMessageHook(MessageHook hook) { hook_ = std::move(hook); }

    bool notify(QObject* receiver, QEvent* event) override;

private:
    MessageHook hook_;
};

} // namespace glimmerly
