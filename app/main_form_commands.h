#pragma once
// The work behind the main window's commands, built beside the window and handed to it: the
// capture gate, the rename, the session login, the end of an upload and the job's reports that
// lead to it, the capture and drop intakes. Each sees the window only through its narrow view.

#include "app/capture_gate.h"
#include "app/capture_intake.h"
#include "app/drop_intake.h"
#include "app/rename_command.h"
#include "app/session_login.h"
#include "app/upload_completion.h"
#include "app/upload_reports.h"
#include "app/window_views.h"
#include "upload/server_protocol.h"

namespace glimmerly {

struct SharedState;
class WindowThread;
namespace net {
class HttpClient;
}
namespace platform {
struct Platform;
}

// The window as its commands see it: its narrow views, and the thread that the upload job's
// reports are carried to.
struct WindowViews {
    RenameView& rename;
    SessionView& session;
    DropView& capture;
    JobWindowView& job;
    WindowThread& thread;
};

struct MainFormCommands {
    // Everything given must outlive the commands; the window owns them once handed over.
    MainFormCommands(SharedState& state, platform::Platform& platform, net::HttpClient& http,
                     ServiceHosts hosts, const WindowViews& window);

    CaptureGate gate;
    RenameCommand rename;
    SessionLogin session;
    UploadCompletion completion;
    UploadReports reports;
    CaptureIntake intake;
    DropIntake drop;
};

} // namespace glimmerly
