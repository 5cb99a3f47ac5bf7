#include "app/capture_requests.h"

namespace glimmerly {

CaptureRequests::CaptureRequests(platform::CaptureChannelServer& server,
                                 std::function<void()> capture)
    : server_(server), capture_(std::move(capture)),
      notifier_(server_.Fd(), QSocketNotifier::Read) {
    QObject::connect(&notifier_, &QSocketNotifier::activated, [this] {
        for (int n = server_.TakeRequests(); n > 0; --n) {
            capture_();
        }
    });
}

} // namespace glimmerly
