#pragma once
// "Session-Modus": ticking it asks for a session name and logs in; every later upload then
// carries the name. Unticking leaves the mode without telling the service.

#include "app/capture_gate.h"
#include "app/window_views.h"
#include "upload/server_protocol.h"

namespace glimmerly {

struct SharedState;
namespace net {
class HttpClient;
}
namespace platform {
struct Platform;
}

class SessionLogin {
public:
    SessionLogin(SharedState& state, net::HttpClient& http, platform::Platform& platform,
                 ServiceHosts hosts, CaptureGate& gate, SessionView& view);

    // Runs on every change of the check box; `checked` is its new state.
    void CheckBoxChanged(bool checked);

private:
    void Enter();
    void Leave();

    SharedState& state_;
    net::HttpClient& http_;
    platform::Platform& platform_;
    const ServiceHosts hosts_;
    CaptureGate& gate_;
    SessionView& view_;
};

} // namespace glimmerly
