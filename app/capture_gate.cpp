#include "capture_gate.h"

#include "app/shared_state.h"
#include "platform/platform.h"

namespace glimmerly {

CaptureGate::CaptureGate(SharedState& state, platform::HotKeys& hotKeys,
                         std::function<void()> unlockOptions)
    : state_(state), hotKeys_(hotKeys), unlockOptions_(std::move(unlockOptions)) {}

void CaptureGate::ReArm() {
    state_.CaptureReady = false; // whatever the discarding dispatches finds the gate shut
    hotKeys_.DiscardPending();
    state_.NewScreenshotName.clear();
    state_.CaptureReady = true;
    if (unlockOptions_)
        unlockOptions_();
}

CaptureGate::Hold::Hold(CaptureGate& gate)
    : gate_(gate), wasReady_(gate.state_.CaptureReady.exchange(false)) {}

CaptureGate::Hold::~Hold() {
    gate_.hotKeys_.DiscardPending();
    gate_.state_.CaptureReady = wasReady_;
}

} // namespace glimmerly
