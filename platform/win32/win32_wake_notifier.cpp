// The wake handle on Windows is a manual-reset event that is set while something waits.
#include "platform/qt/wake_notifier.h"

#include <QWinEventNotifier>

namespace glimmerly::platform {

WakeNotifier::WakeNotifier(WakeHandle handle, std::function<void()> onWake) {
    auto notifier =
        std::make_unique<QWinEventNotifier>(reinterpret_cast<Qt::HANDLE>(handle.native));
    QObject::connect(notifier.get(), &QWinEventNotifier::activated,
                     [onWake = std::move(onWake)] { onWake(); });
    notifier_ = std::move(notifier);
}

WakeNotifier::~WakeNotifier() = default;

} // namespace glimmerly::platform
