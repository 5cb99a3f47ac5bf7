// The wake handle on POSIX is a descriptor that is readable while something waits.
#include "platform/qt/wake_notifier.h"

#include <QSocketNotifier>

namespace glimmerly::platform {

WakeNotifier::WakeNotifier(WakeHandle handle, std::function<void()> onWake) {
    auto notifier = std::make_unique<QSocketNotifier>(static_cast<qintptr>(handle.native),
                                                      QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated,
                     [onWake = std::move(onWake)] { onWake(); });
    notifier_ = std::move(notifier);
}

WakeNotifier::~WakeNotifier() = default;

} // namespace glimmerly::platform
