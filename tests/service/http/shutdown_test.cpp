// Stopping the service with SIGTERM: it refuses new connections at once, answers the requests
// in flight (a half-sent upload included) and closes idle kept-alive connections, then exits;
// a request that outlasts the drain deadline is cut off so the stop never hangs. Live pages'
// streams end (the browser reconnects elsewhere).

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/service/harness.h"
#include "tests/service/pg_cluster.h"
#include "tests/service/raw_client.h"

namespace glimmerly::service::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class ServiceShutdownTest : public BackendTest {
protected:
    std::vector<std::string> Args(std::vector<std::string> more = {}) const {
        std::vector<std::string> args = StoreArgs();
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
};

// Waits until connecting to port is refused; true when it was within timeout.
bool RefusedWithin(std::uint16_t port, std::chrono::milliseconds timeout) {
    auto until = Clock::now() + timeout;
    while (Clock::now() < until) {
        int fd = Connect(port);
        if (fd < 0) {
            return true;
        }
        ::close(fd);
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST_P(ServiceShutdownTest, UploadInFlightAtSigtermIsAnsweredAndStored) {
    const auto data = temp_.Root() / "data";
    auto service = std::make_unique<ServiceProcess>(data, Args());
    ASSERT_TRUE(service->ok());
    const std::uint16_t uploadPort = service->uploadPort();
    const std::uint16_t servicePort = service->servicePort();

    // A kept-alive connection that has had its answer and waits for the next request.
    int idle = Connect(servicePort);
    ASSERT_GE(idle, 0);
    ASSERT_TRUE(SendAll(idle, "GET /loginsession.php?sessionname=Stop HTTP/1.1\r\nHost: "
                              "localhost\r\n\r\n"));
    ASSERT_EQ(ReadReply(idle), "ok Stop");
    // A live page's event stream, which never ends by itself.
    int stream = Connect(servicePort);
    ASSERT_GE(stream, 0);
    ASSERT_TRUE(SendAll(stream, "GET /~Stop/events HTTP/1.1\r\nHost: localhost\r\n\r\n"));
    std::string streamHead;
    while (streamHead.find("\r\n\r\n") == std::string::npos) {
        ASSERT_TRUE(ReadMore(stream, streamHead, 5000)) << streamHead;
    }

    // An upload with half its body sent.
    UploadFields fields;
    fields.screenshotName = "Letztes Bild";
    fields.sessionName = "Stop";
    std::string jpeg = MakeJpeg(160, 120, 8);
    std::string request = UploadRequest(UploadBody(jpeg, fields), uploadPort);
    std::size_t half = request.size() / 2;
    int upload = Connect(uploadPort);
    ASSERT_GE(upload, 0);
    ASSERT_TRUE(SendAll(upload, std::string_view(request).substr(0, half)));
    std::this_thread::sleep_for(100ms); // the service has the head and part of the body

    auto stopped = std::async(std::launch::async, [&] { return service->Stop(SIGTERM); });
    // New connections are refused while the upload is still open, and the idle connection is
    // closed; only then does the rest of the body go out.
    EXPECT_TRUE(RefusedWithin(uploadPort, 5s));
    EXPECT_TRUE(RefusedWithin(servicePort, 5s));
    EXPECT_TRUE(WaitForClose(idle, 5000)) << "the idle kept-alive connection stayed open";
    ::close(idle);
    std::string rest;
    while (ReadMore(stream, rest, 5000)) {
    }
    EXPECT_TRUE(ClosedByServer(stream)) << "the live page's stream stayed open";
    ::close(stream);
    ASSERT_EQ(stopped.wait_for(0s), std::future_status::timeout) << "exited before the upload";
    ASSERT_TRUE(SendAll(upload, std::string_view(request).substr(half)));
    std::string head;
    std::string reply = ReadReply(upload, 5000, &head);
    ::close(upload);
    EXPECT_EQ(NameFromReply(reply), "letztes_bild") << reply;
    EXPECT_NE(head.find("Connection: close"), std::string::npos) << head;

    int status = stopped.get();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::string output = service->Output();
    EXPECT_NE(output.find("stopped (SIGTERM)\n"), std::string::npos) << output;

    // What was answered "ok" is there after the restart.
    service = std::make_unique<ServiceProcess>(data, Args());
    ASSERT_TRUE(service->ok());
    EXPECT_EQ(ClientGet(service->servicePort(), "/letztes_bild.jpg").body, jpeg);
    EXPECT_EQ(ListedNames(ClientGet(service->servicePort(), "/~Stop").body),
              std::vector<std::string>{"letztes_bild"});
}

// A balancer keeps sending on its kept-alive connections until its health check has seen the
// instance go: for a second after SIGTERM such a request is still answered (closing the
// connection), and the health check says the instance is stopping.
TEST_P(ServiceShutdownTest, KeptAliveConnectionsAreServedShortlyAfterSigterm) {
    ServiceProcess service(temp_.Root() / "data", Args());
    ASSERT_TRUE(service.ok());
    const std::uint16_t port = service.servicePort();
    const std::string login = "GET /loginsession.php?sessionname=Nah HTTP/1.1\r\nHost: x\r\n\r\n";
    int request = Connect(port);
    int health = Connect(port);
    ASSERT_GE(request, 0);
    ASSERT_GE(health, 0);
    for (int fd : {request, health}) {
        ASSERT_TRUE(SendAll(fd, login));
        ASSERT_EQ(ReadReply(fd), "ok Nah");
    }

    ASSERT_EQ(::kill(service.pid(), SIGTERM), 0);
    ASSERT_TRUE(RefusedWithin(port, 5s)); // draining now
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(SendAll(request, login));
    ASSERT_TRUE(SendAll(health, "GET /health HTTP/1.1\r\nHost: x\r\n\r\n"));
    std::string head;
    EXPECT_EQ(ReadReply(request, 5000, &head), "ok Nah");
    EXPECT_NE(head.find("Connection: close"), std::string::npos) << head;
    EXPECT_EQ(ReadReply(health, 5000, &head), "stopping");
    EXPECT_EQ(head.rfind("HTTP/1.1 503", 0), 0u) << head;
    EXPECT_NE(head.find("Retry-After: 5\r\n"), std::string::npos) << head;
    ::close(request);
    ::close(health);
}

TEST_P(ServiceShutdownTest, RequestOutlastingTheDrainDeadlineIsCutOff) {
    ServiceProcess service(temp_.Root() / "data",
                           Args({"--drain-timeout", "1", "--body-timeout", "60"}));
    ASSERT_TRUE(service.ok());
    std::string request = UploadRequest(UploadBody(MakeJpeg(64, 48, 2)), service.uploadPort());
    int stuck = Connect(service.uploadPort());
    ASSERT_GE(stuck, 0);
    ASSERT_TRUE(SendAll(stuck, std::string_view(request).substr(0, request.size() / 2)));
    std::this_thread::sleep_for(100ms);

    // ServiceProcess::Stop fails the test when the process is still there after 5 s.
    int status = service.Stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(WaitForClose(stuck, 1000));
    ::close(stuck);
    EXPECT_NE(service.Output().find("cut off"), std::string::npos) << service.Output();
}

TEST_P(ServiceShutdownTest, ASecondSignalStopsWithoutWaitingForTheDrain) {
    ServiceProcess service(temp_.Root() / "data",
                           Args({"--drain-timeout", "60", "--body-timeout", "60"}));
    ASSERT_TRUE(service.ok());
    std::string request = UploadRequest(UploadBody(MakeJpeg(64, 48, 2)), service.uploadPort());
    int stuck = Connect(service.uploadPort());
    ASSERT_GE(stuck, 0);
    ASSERT_TRUE(SendAll(stuck, std::string_view(request).substr(0, request.size() / 2)));
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(::kill(service.pid(), SIGTERM), 0);
    ASSERT_TRUE(RefusedWithin(service.servicePort(), 5000ms)); // draining now

    // ServiceProcess::Stop fails the test when the process is still there after 5 s.
    int status = service.Stop(SIGINT);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    ::close(stuck);
    EXPECT_NE(service.Output().find("SIGINT again"), std::string::npos) << service.Output();
}

GLIMMERLY_BOTH_STORES(ServiceShutdownTest);

} // namespace
} // namespace glimmerly::service::test
