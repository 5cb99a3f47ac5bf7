#pragma once
// The main window on a scripted desktop, with loopback servers standing in for the service.

#include "app/main_form.h"
#include "app/message_box.h"
#include "app/shared_state.h"
#include "net/http_client.h"
#include "tests/support/fake_platform.h"
#include "tests/support/loopback_server.h"
#include "text/cp1252.h"

#include "ui_main_form.h"

#include <QTest>
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Turns the event loop until `condition` holds; when it does not within 10 s, the test fails
// here. (Qt's QTRY macros only return from the function under GoogleTest, so a wait that never
// comes true would pass.)
#define ASSERT_SOON(condition)                                                                     \
    ASSERT_TRUE(QTest::qWaitFor([&] { return static_cast<bool>(condition); }, 10000))              \
        << "never came true: " #condition

namespace glimmerly {

using testing::LoopbackServer;
using testing::RecordedRequest;

inline QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Records every status text while showing it as usual.
class RecordingMainForm : public MainForm {
public:
    using MainForm::MainForm;
    // The job ends before the recording goes.
    ~RecordingMainForm() override { FormDestroy(); }
    void ShowStatus(const std::string& text) override {
        {
            std::lock_guard lock(mutex);
            statuses.push_back(cp1252::ToUtf8(text));
        }
        MainForm::ShowStatus(text);
    }
    std::vector<std::string> Statuses() {
        std::lock_guard lock(mutex);
        return statuses;
    }
    std::mutex mutex;
    std::vector<std::string> statuses;
};

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousSink_ = SetMessageBoxSink([this](const QString& text, MessageKind kind) {
            messages.push_back((kind == MessageKind::Error ? "error: " : "") + text.toStdString());
        });
        desktop.screen().SetMonitors({{Rect{0, 0, 1920, 1080}, true}});
        desktop.windows().foreground =
            platform::WindowInfo{"Unbenannt - Editor", Rect{100, 50, 900, 650}};
        platform = desktop.MakePlatform();
        form = MakeForm(*platform);
        form->show();
    }
    void TearDown() override {
        HoldUploads(false);
        form.reset();
        stub.reset();
        SetMessageBoxSink(previousSink_);
    }

    Ui::MainForm& ui() { return form->Controls(); }

    // The window with its commands, built as the program builds them.
    std::unique_ptr<RecordingMainForm> MakeForm(platform::Platform& parts) {
        auto window = std::make_unique<RecordingMainForm>(state, parts, *http, hosts);
        window->SetCommands(
            std::make_unique<MainFormCommands>(state, parts, *http, hosts, window->Views()));
        return window;
    }
    // The window built again for other hosts than the build's: those of a loopback stand-in. The
    // old window cancelled its connection on its way out; the new one gets a connection of its own.
    void UseHosts(ServiceHosts other) {
        hosts = std::move(other);
        form.reset();
        http = std::make_unique<net::HttpClient>();
        form = MakeForm(*platform);
        form->show();
    }
    void UseHost(const std::string& host) { UseHosts({host, host}); }

    void UploadHostAnswers(std::string reply) {
        stub = std::make_unique<LoopbackServer>(
            [reply](const RecordedRequest&) { return LoopbackServer::Ok(reply); });
        UseHost(stub->Host());
    }

    // Print, then wait until the job has re-armed the hot keys.
    void CaptureAndWait() {
        ASSERT_TRUE(desktop.hotKeys().Press(kHotKeyPrint));
        ASSERT_FALSE(state.CaptureReady);
        ASSERT_SOON(state.CaptureReady);
    }

    // A loopback stand-in for both hosts: answers uploads, renames and logins with the replies
    // the test sets; an upload can be held back until the test lets it go.
    void StartService() {
        stub = std::make_unique<LoopbackServer>([this](const RecordedRequest& request) {
            const std::string line = request.RequestLine();
            if (whileAnswering)
                whileAnswering(line);
            std::unique_lock lock(serviceMutex);
            if (line.rfind("POST /upload.php", 0) == 0) {
                serviceWake.wait(lock, [this] { return !holdUpload; });
                return uploadStatus.empty() ? LoopbackServer::Ok(uploadReply)
                                            : uploadStatus + "Content-Length: 0\r\n"
                                                             "Connection: close\r\n\r\n";
            }
            if (line.rfind("GET /setname.php", 0) == 0)
                return renameStatus.empty() ? LoopbackServer::Ok(renameReply)
                                            : renameStatus + "Content-Length: 0\r\n"
                                                             "Connection: close\r\n\r\n";
            if (line.rfind("GET /loginsession.php", 0) == 0)
                return LoopbackServer::Ok(loginReply);
            return std::string("HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\n");
        });
        UseHost(stub->Host());
    }
    void HoldUploads(bool hold) {
        std::lock_guard lock(serviceMutex);
        holdUpload = hold;
        serviceWake.notify_all();
    }
    std::vector<std::string> RequestLines() {
        std::vector<std::string> lines;
        for (const auto& r : stub->Requests())
            lines.push_back(r.RequestLine());
        return lines;
    }

    bool OptionsEnabled() {
        return ui().EditCheckBox->isEnabled() && ui().ActiveWindowCheckBox->isEnabled() &&
               ui().SaveLocalCheckBox->isEnabled() && ui().SessionModeCheckBox->isEnabled();
    }

    testing::FakePlatform desktop;
    std::unique_ptr<platform::Platform> platform;
    std::unique_ptr<net::HttpClient> http = std::make_unique<net::HttpClient>();
    ServiceHosts hosts = BuiltInHosts();
    SharedState state;
    std::unique_ptr<RecordingMainForm> form;
    std::unique_ptr<LoopbackServer> stub;
    std::vector<std::string> messages;

    std::mutex serviceMutex;
    std::condition_variable serviceWake;
    bool holdUpload = false;
    std::string uploadReply = "ok|3.2|http://localhost:8460/abc.jpg";
    std::string uploadStatus; // e.g. "HTTP/1.1 500 Internal Server Error\r\n": fail the upload
    std::string renameReply;
    std::string renameStatus; // like uploadStatus, for the rename
    std::string loginReply;
    // Runs on the service's thread for every request before it is answered: what the user does
    // while the window thread waits for the reply.
    std::function<void(const std::string& requestLine)> whileAnswering;

private:
    MessageBoxSink previousSink_;
};

} // namespace glimmerly
