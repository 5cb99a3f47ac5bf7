// The job on a thread of its own, ended from another thread the way the main window does it when
// it closes: the view refuses further calls, the client is cancelled, the job is asked to stop and
// joined. The view here records the job's calls from the job thread; the test reads them only
// after the join.

#include "net/http_client.h"
#include "tests/support/cp1252_literal.h"
#include "tests/support/fake_platform.h"
#include "tests/support/loopback_server.h"
#include "upload/upload_job.h"
#include "upload/upload_view.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace glimmerly {
namespace {

using namespace testing::literals;
using testing::LoopbackServer;

// Like the main window's view: once closed, every call throws JobStopped.
class ClosingView : public UploadView {
public:
    void ShowStatus(const std::string& text) override {
        Log("status " + text);
        if (onStatus)
            onStatus(text);
    }
    void ShowNewVersion(const std::string& version) override { Log("version " + version); }
    void CompleteUpload(const std::string& address, const std::string&) override {
        Log("address " + address);
    }
    void ShowUploadError(const std::string& text) override { Log("message " + text); }
    std::optional<std::string> AskSaveFileName() override {
        Log("save dialog");
        return std::nullopt;
    }
    void FinishJob() override { Log("finish"); }
    void FailJob(const std::string& status) override { Log("fail " + status); }

    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }

    // Called on the job thread after a status is recorded.
    std::function<void(const std::string&)> onStatus;
    // What the view took before it closed. Read only once the job has been joined.
    std::vector<std::string> events;

private:
    void Log(std::string event) {
        std::lock_guard lock(mutex_);
        if (closed_)
            throw JobStopped();
        events.push_back(std::move(event));
    }

    std::mutex mutex_;
    bool closed_ = false;
};

Picture Noisy(int width, int height) {
    Picture p(width, height);
    std::uint32_t x = 4711;
    for (auto& byte : p.pixels) {
        x = x * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(x >> 24);
    }
    return p;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class UploadJobThreadTest : public ::testing::Test {
protected:
    UploadJobInput Input(const LoopbackServer& server) {
        UploadJobInput in;
        in.picture = Noisy(320, 200);
        in.screenshotFile = files.TempDir() + "screen.jpg";
        in.uploadUrl = server.Url("/upload.php");
        return in;
    }

    testing::FakeFiles files;
    net::HttpClient http;
    ClosingView view;
};

TEST_F(UploadJobThreadTest, ClosingWhileTheServerHoldsItsAnswerEndsTheJob) {
    // An empty answer holds the request without a reply.
    LoopbackServer server([](const testing::RecordedRequest&) { return std::string(); });
    TUploadThread job(Input(server), http, files, view);
    job.Start();
    ASSERT_TRUE(server.WaitForRequests(1));

    view.Close();
    http.Cancel();
    job.RequestStop();
    const bool ended = WaitUntil([&] { return job.Finished(); }, std::chrono::seconds(20));
    server.Release(); // lets a job that did not end come home, so the test can report it
    job.Join();
    EXPECT_TRUE(ended) << "the job kept waiting for the server after the window closed";

    ASSERT_FALSE(view.events.empty());
    EXPECT_EQ(view.events.back(), "status Screenshot wird zum Server übertragen..."_cp1252);
}

TEST_F(UploadJobThreadTest, StopBetweenTwoRoundsOfTheSizeLoopSendsNothing) {
    LoopbackServer server(
        [](const testing::RecordedRequest&) { return LoopbackServer::Ok("ok|3.2|http://h/a"); });
    UploadJobInput in = Input(server);
    in.sizeLimit = 0; // no round fits
    TUploadThread job(std::move(in), http, files, view);

    // The first lowered quality waits on the job thread until the job has been asked to stop.
    // The view stays open: the stop alone must end the loop.
    std::mutex mutex;
    std::condition_variable changed;
    bool lowered = false;
    bool stopped = false;
    view.onStatus = [&](const std::string& text) {
        if (text.find("herabgesetzt") == std::string::npos)
            return;
        std::unique_lock lock(mutex);
        lowered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return stopped; });
    };
    job.Start();
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return lowered; }));
    }
    job.RequestStop();
    {
        std::lock_guard lock(mutex);
        stopped = true;
        changed.notify_all();
    }
    job.Join();

    EXPECT_TRUE(job.Finished());
    EXPECT_EQ(view.events, (std::vector<std::string>{
                               "status Screenshot wird komprimiert..."_cp1252,
                               "status Screenshot wird komprimiert... (Qualität herabgesetzt auf: "
                               "96%)"_cp1252,
                           }));
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_FALSE(files.Exists(files.folder() + "screen.jpg"));
}

} // namespace
} // namespace glimmerly
