// Glimmerly: press Print anywhere, get the picture's address.

#include "app/capture_requests.h"
#include "app/command_line.h"
#include "app/glimmerly_application.h"
#include "app/main_form.h"
#include "app/message_box.h"
#include "app/new_session_form.h"
#include "app/shared_state.h"
#include "editor/image_editor_form.h"
#include "net/http_client.h"
#include "platform/capture_channel.h"
#include "platform/crash_report.h"
#include "platform/create_platform.h"
#include "platform/desktop_session.h"
#include "text/cp1252.h"

#include <QTimer>

#include <cstdio>
#include <exception>

namespace {

using glimmerly::platform::CaptureRequestResult;

// glimmerly --capture while another copy runs: hand the request over and end.
int RequestCapture() {
    switch (glimmerly::platform::SendCaptureRequest(glimmerly::platform::CaptureChannelPath(), 5000,
                                                    glimmerly::platform::ActivationToken())) {
    case CaptureRequestResult::Taken:
    case CaptureRequestResult::Dropped: // busy, as a press of Print would be
        return 0;
    case CaptureRequestResult::Refused:
        std::fputs("glimmerly: Das laufende Glimmerly hat die Anfrage abgelehnt.\n", stderr);
        return 1;
    case CaptureRequestResult::NoListener:
        break;
    }
    std::fputs("glimmerly: Das laufende Glimmerly nimmt keine Anfragen an.\n", stderr);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    glimmerly::platform::ConnectConsole();
    const glimmerly::CommandLine commandLine =
        glimmerly::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (commandLine.action) {
    case glimmerly::CommandLineAction::Help:
        std::fputs(glimmerly::UsageText().c_str(), stdout);
        return 0;
    case glimmerly::CommandLineAction::Version:
        std::fputs(glimmerly::VersionText().c_str(), stdout);
        return 0;
    case glimmerly::CommandLineAction::Error:
        std::fputs(glimmerly::BadArgumentText(commandLine.badArgument).c_str(), stderr);
        return glimmerly::kExitUsage;
    case glimmerly::CommandLineAction::Run:
    case glimmerly::CommandLineAction::Capture:
        break;
    }
    const bool captureOnce = commandLine.action == glimmerly::CommandLineAction::Capture;

    // A second copy ends at once, silently, or hands its capture request to the first. A guard
    // that cannot be had at all is no sign of another copy: that is said.
    std::unique_ptr<glimmerly::platform::InstanceGuard> instance;
    try {
        instance = glimmerly::platform::AcquireInstanceGuard("Screenshot");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Glimmerly kann nicht starten: %s\n",
                     glimmerly::cp1252::ToUtf8(e.what()).c_str());
        return 1;
    }
    if (!instance)
        return captureOnce ? RequestCapture() : 0;

    // The toolkit aborts without a display; say so plainly instead.
    if (!glimmerly::platform::DisplayReachable()) {
        std::fputs(glimmerly::platform::NoDisplayText(), stderr);
        return 1;
    }

    glimmerly::platform::InstallCrashReport();
    glimmerly::GlimmerlyApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(true);

    // Declared before the platform: the platform's hot keys refer to it to the end.
    const auto channel = glimmerly::platform::CaptureChannelServer::Listen(
        glimmerly::platform::CaptureChannelPath());
    std::unique_ptr<glimmerly::platform::Platform> platform;
    try {
        platform = glimmerly::platform::CreatePlatform();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", glimmerly::platform::DesktopFailedText(), e.what());
        return 1;
    }
    if (channel) {
        platform->hotKeys =
            std::make_unique<glimmerly::HotKeysWithChannel>(std::move(platform->hotKeys), *channel);
    } else {
        std::fputs(glimmerly::platform::NoCaptureChannelText(), stderr);
    }
    // The connection outlives the window and the job; the window ends the job before it goes,
    // and owns the commands, which see it through its views. The hosts are the build's.
    glimmerly::net::HttpClient http;
    const glimmerly::ServiceHosts hosts = glimmerly::BuiltInHosts();
    glimmerly::SharedState state;
    glimmerly::MainForm mainForm(state, *platform, http, hosts);
    glimmerly::NewSessionForm sessionForm(&mainForm);
    glimmerly::ImageEditorForm editor(&mainForm, platform->dialogs.get());
    mainForm.SetCommands(std::make_unique<glimmerly::MainFormCommands>(state, *platform, http,
                                                                       hosts, mainForm.Views()));
    mainForm.SetDialogs(&sessionForm, &editor);
    app.SetMessageHook(
        [&editor](QObject* receiver, QEvent* event) { return editor.AppMessage(receiver, event); });

    // Exactly what a press of Print does, with its errors shown the same way.
    const auto print = [&mainForm] {
        try {
            mainForm.WMHotKey(glimmerly::kHotKeyPrint);
        } catch (const std::exception& e) {
            glimmerly::ShowErrorBox(e.what());
        }
    };
    std::unique_ptr<glimmerly::CaptureRequests> requests;
    if (channel) {
        requests = std::make_unique<glimmerly::CaptureRequests>(
            *channel, [&mainForm] { return mainForm.TakesHotKeys(); },
            [&print](const std::string& activationToken) {
                glimmerly::platform::WithActivationToken(activationToken, print);
            });
    }

    mainForm.show();
    if (captureOnce)
        QTimer::singleShot(0, &mainForm, print);
    const int result = app.exec();
    app.SetMessageHook({});
    mainForm.FormDestroy();
    return result;
}
