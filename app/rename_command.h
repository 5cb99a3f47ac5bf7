#pragma once
// "Umbenennen": sends the typed name for the uploaded picture and applies the service's reply.
// While the upload still runs, the name waits for the job, which sends it once the upload has
// succeeded.

#include "app/capture_gate.h"
#include "app/window_views.h"
#include "upload/server_protocol.h"

namespace glimmerly {

struct SharedState;
namespace net {
class HttpClient;
}

class RenameCommand {
public:
    RenameCommand(SharedState& state, net::HttpClient& http, ServiceHosts hosts, CaptureGate& gate,
                  RenameView& view);

    // The button (or Enter in the name field).
    void ButtonClick();
    // Sends NewScreenshotName for ScreenshotUrl and waits for the reply; throws what the HTTP
    // client throws. Window thread, from the button or for the job.
    void Send();

private:
    SharedState& state_;
    net::HttpClient& http_;
    const ServiceHosts hosts_;
    CaptureGate& gate_;
    RenameView& view_;
};

} // namespace glimmerly
