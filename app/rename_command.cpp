#include "rename_command.h"

#include "app/message_box.h"
#include "app/shared_state.h"
#include "net/http_client.h"
#include "text/cp1252.h"
#include "upload/server_protocol.h"

namespace glimmerly {

RenameCommand::RenameCommand(SharedState& state, net::HttpClient& http, ServiceHosts hosts,
                             CaptureGate& gate, RenameView& view)
    : state_(state), http_(http), hosts_(std::move(hosts)), gate_(gate), view_(view) {}

void RenameCommand::ButtonClick() {
    state_.NewScreenshotName = view_.RenameText();
    if (!state_.UploadDone) {
        // The job sends the name once its upload has succeeded.
        view_.SetRenameControlsVisible(false);
        return;
    }
    CaptureGate::Hold busy(gate_); // also when the request fails
    state_.ScreenshotUrl = view_.AddressText();
    Send();
}

void RenameCommand::Send() {
    view_.ShowStatus(cp1252::FromUtf8("Screenshot-Name senden..."));
    const std::string reply = http_.Get(
        protocol::RenameUrl(state_.ScreenshotUrl, state_.NewScreenshotName, hosts_.service));
    if (protocol::RenameSucceeded(reply)) {
        view_.ShowStatus(cp1252::FromUtf8("Screenshot wurde umbenannt."));
        state_.ScreenshotUrl = reply;
        view_.ShowAddress(state_.ScreenshotUrl, true);
        view_.SetRenameControlsVisible(false);
        state_.RememberedProposal = state_.ProposedName;
        state_.RememberedName = state_.NewScreenshotName;
    } else {
        view_.ShowStatus("");
        view_.ShowAddress(state_.ScreenshotUrl, false);
        view_.SetRenameControlsVisible(true);
        ShowMessageBox(reply);
        view_.FocusRename();
    }
    state_.NewScreenshotName.clear();
}

} // namespace glimmerly
