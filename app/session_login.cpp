#include "session_login.h"

#include "app/message_box.h"
#include "app/shared_state.h"
#include "net/http_client.h"
#include "platform/platform.h"
#include "text/cp1252.h"
#include "text/text_routines.h"
#include "upload/server_protocol.h"

namespace glimmerly {

SessionLogin::SessionLogin(SharedState& state, net::HttpClient& http, platform::Platform& platform,
                           ServiceHosts hosts, CaptureGate& gate, SessionView& view)
    : state_(state), http_(http), platform_(platform), hosts_(std::move(hosts)), gate_(gate),
      view_(view) {}

void SessionLogin::CheckBoxChanged(bool checked) {
    if (checked)
        Enter();
    else
        Leave();
}

void SessionLogin::Leave() {
    view_.SetSessionNameText("");
    state_.SessionName.clear();
    view_.ResetCaption();
    view_.HideSessionAddress();
}

void SessionLogin::Enter() {
    // No capture may start behind the dialog or while the login request uses the connection.
    CaptureGate::Hold busy(gate_);

    const std::optional<std::string> typed = view_.AskSessionName();
    if (!typed) {
        view_.UncheckSessionMode(); // runs the handler again, which leaves the mode
        return;
    }
    const std::string name = TrimControls(*typed);
    view_.SetSessionNameText(name);

    const protocol::SessionReply reply =
        protocol::ReadSessionReply(http_.Get(protocol::SessionLoginUrl(name, hosts_.service)));
    if (reply.ok) {
        state_.SessionName = reply.name;
        view_.AppendToCaption("   [Session: " + reply.name + "]");
        const std::string page = protocol::SessionPageUrl(state_.SessionName, hosts_.service);
        if (view_.OpenBrowserTicked()) {
            platform_.shell->PressShift();
            platform_.shell->Open(page);
            platform_.shell->ReleaseShift();
            view_.BringToFront();
        }
        view_.DisableOpenBrowser();
        view_.ShowSessionAddress(page);
    }
    if (reply.invalidName) {
        view_.UncheckSessionMode();
        ShowMessageBox(cp1252::FromUtf8("Ungültiger Session-Name!"));
    }
}

} // namespace glimmerly
