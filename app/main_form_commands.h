#pragma once
// The work behind the main window's commands, built beside the window and handed to it: the
// capture gate, the rename, the session login, the capture and drop intakes and the end of an
// upload. Each sees the window only through its narrow view.

#include "app/capture_gate.h"
#include "app/capture_intake.h"
#include "app/drop_intake.h"
#include "app/rename_command.h"
#include "app/session_login.h"
#include "app/upload_completion.h"
#include "app/window_views.h"

namespace glimmerly {

struct SharedState;
class MainForm;
namespace net {
class HttpClient;
}
namespace platform {
struct Platform;
}

struct MainFormCommands {
    // Everything given must outlive the commands; the window owns them once handed over.
    MainFormCommands(SharedState& state, platform::Platform& platform, net::HttpClient& http,
                     ServiceHosts hosts, MainForm& window);

    CaptureGate gate;
    RenameCommand rename;
    SessionLogin session;
    CaptureIntake intake;
    DropIntake drop;
    UploadCompletion completion;
};

} // namespace glimmerly
