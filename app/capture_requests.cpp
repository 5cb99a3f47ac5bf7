#include "app/capture_requests.h"

namespace glimmerly {

CaptureRequests::CaptureRequests(platform::CaptureChannelServer& server,
                                 std::function<bool()> accepts,
                                 std::function<void(const std::string&)> capture)
    : server_(server), accepts_(std::move(accepts)), capture_(std::move(capture)),
      notifier_(server_.Wake(), [this] { TakeWaiting(); }) {}

void CaptureRequests::TakeWaiting() {
    std::vector<platform::CaptureRequest> batch = server_.TakeRequests();
    if (batch.empty())
        return;
    const bool taken = accepts_();
    for (std::size_t i = 0; i < batch.size(); ++i)
        batch[i].Answer(taken && i == 0);
    if (taken)
        capture_(batch.front().ActivationToken());
}

} // namespace glimmerly
