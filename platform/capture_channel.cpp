// What the capture channel does the same on every system: the requests read in full wait here,
// under one lock, until the window thread takes them.
#include "platform/capture_channel.h"

namespace glimmerly::platform {

CaptureRequest::~CaptureRequest() {
    Answer(false);
}

CaptureRequest::CaptureRequest(CaptureRequest&& other) noexcept
    : connection_(other.connection_), activationToken_(std::move(other.activationToken_)) {
    other.connection_ = kAnswered;
}

void CaptureRequest::Answer(bool taken) {
    if (connection_ == kAnswered)
        return;
    AnswerAndClose(connection_, taken ? kCaptureAnswerTaken : kCaptureAnswerBusy);
    connection_ = kAnswered;
}

void CaptureChannelServer::Deliver(CaptureRequest request) {
    const std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(request));
    SetWake();
}

std::vector<CaptureRequest> CaptureChannelServer::TakeRequests() {
    std::vector<CaptureRequest> taken;
    const std::lock_guard<std::mutex> lock(mutex_);
    ClearWake();
    for (CaptureRequest& request : requests_)
        taken.push_back(std::move(request));
    requests_.clear();
    return taken;
}

void CaptureChannelServer::DropPending() {
    for (CaptureRequest& request : TakeRequests())
        request.Answer(false);
}

} // namespace glimmerly::platform
