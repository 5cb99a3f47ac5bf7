// The upload job's reports without the window: which calls are carried to the window thread, in
// which order they arrive there, how the job's end reaches the completion, and that a closing
// window ends the job instead of letting it wait.

#include "app/rename_command.h"
#include "app/upload_completion.h"
#include "app/upload_reports.h"
#include "app/window_thread.h"
#include "tests/app/command_test.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>
#include <thread>

namespace glimmerly {
namespace {

using Calls = std::vector<std::string>;

// The window as the reports and the completion see it, recorded among the stand-in window's calls;
// a call that does not come on the window thread says so.
class ThreadNotingWindow : public JobWindowView, public RenameView {
public:
    explicit ThreadNotingWindow(testing::StandInWindow& window) : window_(window) {}
    void ShowStatus(const std::string& text) override { window_.ShowStatus(text + Where()); }
    std::string RenameText() override { return window_.RenameText(); }
    std::string AddressText() override { return window_.AddressText(); }
    void ShowAddress(const std::string& address, bool select) override {
        window_.ShowAddress(address + Where(), select);
    }
    void SetRenameControlsVisible(bool visible) override {
        window_.SetRenameControlsVisible(visible);
    }
    void FocusRename() override { window_.FocusRename(); }
    void ShowNewVersion(const std::string& version) override {
        window_.ShowStatus("version " + version + Where());
    }
    std::optional<std::string> AskSaveFileName() override {
        window_.ShowStatus("save dialog" + Where());
        return "/tmp/bild.jpg";
    }

private:
    static std::string Where() {
        return QThread::currentThread() == QCoreApplication::instance()->thread() ? "" : " (job)";
    }
    testing::StandInWindow& window_;
};

class UploadReportsTest : public testing::CommandTest {
protected:
    // Runs `job` on a thread of its own while the window thread turns its event loop.
    void FromTheJob(const std::function<void()>& job) {
        std::atomic<bool> done{false};
        std::thread thread([&] {
            job();
            done = true;
        });
        QElapsedTimer timer;
        timer.start();
        while (!done && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        thread.join();
    }

    QObject windowObject;
    WindowThread windowThread{&windowObject};
    ThreadNotingWindow noting{window};
    RenameCommand rename{state, http, hosts, gate, noting};
    UploadCompletion completion{state, rename, gate, noting};
    UploadReports reports{windowThread, noting, completion};
};

TEST_F(UploadReportsTest, TheJobsCallsArriveOnTheWindowThreadInOrder) {
    std::optional<std::string> chosen;
    FromTheJob([&] {
        reports.ShowStatus("Screenshot wird komprimiert...");
        reports.ShowNewVersion("3.2"); // the program's own: nothing to show
        reports.ShowNewVersion("3.3");
        reports.CompleteUpload("http://h/a.jpg", "hochgeladen");
        reports.ShowUploadError("Fehler 42");
        chosen = reports.AskSaveFileName();
    });
    // The status line is the window's to queue: it comes straight from the job.
    EXPECT_EQ(window.Take(),
              (Calls{"status Screenshot wird komprimiert... (job)", "status version 3.3",
                     "address http://h/a.jpg", "status hochgeladen", "unlock", "message Fehler 42",
                     "status save dialog"}));
    EXPECT_EQ(chosen, "/tmp/bild.jpg");
    EXPECT_TRUE(state.UploadDone);
    EXPECT_TRUE(state.CaptureReady);
}

TEST_F(UploadReportsTest, AFailedOrFinishedJobReArmsWithoutAnAddress) {
    FromTheJob([&] { reports.FailJob("Hochladen fehlgeschlagen: weg"); });
    EXPECT_EQ(window.Take(),
              (Calls{"status Hochladen fehlgeschlagen: weg", "rename controls hidden", "unlock"}));
    EXPECT_TRUE(state.CaptureReady);

    state.CaptureReady = false;
    state.NewScreenshotName = "plan"; // typed during a job that ends without a picture
    FromTheJob([&] { reports.FinishJob(); });
    EXPECT_EQ(window.Take(), (Calls{"rename controls hidden", "unlock"}));
    EXPECT_EQ(state.NewScreenshotName, "");
    EXPECT_TRUE(state.CaptureReady);
    EXPECT_FALSE(state.UploadDone);
}

TEST_F(UploadReportsTest, OnceTheWindowClosesEveryWaitedCallEndsTheJob) {
    windowThread.Shutdown();
    FromTheJob([&] {
        EXPECT_NO_THROW(reports.ShowNewVersion("3.2")); // nothing to carry
        EXPECT_THROW(reports.ShowNewVersion("3.3"), JobStopped);
        EXPECT_THROW(reports.CompleteUpload("http://h/a.jpg", "hochgeladen"), JobStopped);
        EXPECT_THROW(reports.ShowUploadError("Fehler 42"), JobStopped);
        EXPECT_THROW(reports.AskSaveFileName(), JobStopped);
        EXPECT_THROW(reports.FinishJob(), JobStopped);
        EXPECT_THROW(reports.FailJob("weg"), JobStopped);
    });
    EXPECT_TRUE(window.Take().empty());
    EXPECT_FALSE(state.UploadDone);
    EXPECT_FALSE(state.CaptureReady);
}

} // namespace
} // namespace glimmerly
