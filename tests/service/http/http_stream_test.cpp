// The service's live-update stream: announcements of uploads and renames, and a clean stop
// while streams are open.

#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "tests/service/service_fixture.h"

namespace glimmerly::service::test {
namespace {

// Reads from a live-update stream until text appears or the time runs out.
bool StreamShows(int fd, std::string& seen, const std::string& text, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (seen.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || !ReadMore(fd, seen, static_cast<int>(left))) {
            return false;
        }
    }
    return true;
}

int OpenStream(std::uint16_t port, const std::string& target, const std::string& extra = {}) {
    const int fd = Connect(port);
    if (fd < 0) {
        return -1;
    }
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + extra + "\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    return fd;
}

TEST_P(ServiceTest, LiveUpdatesAnnounceUploadsAndRenames) {
    ASSERT_EQ(ClientGet(sp(), "/loginsession.php?sessionname=live").body, "ok live");
    ASSERT_EQ(ClientGet(sp(), "/loginsession.php?sessionname=other").body, "ok other");
    int fd = OpenStream(sp(), "/~live/events?after=0");
    ASSERT_GE(fd, 0);
    std::string seen;
    ASSERT_TRUE(StreamShows(fd, seen, "retry: 2000", 3000)) << seen;
    EXPECT_NE(seen.find("text/event-stream"), std::string::npos);

    UploadFields f;
    f.sessionName = "other";
    f.screenshotName = "fremd";
    UploadOk(jpeg_, f); // another session's upload does not show up here
    f.sessionName = "live";
    f.screenshotName = "Erstes \"Bild\"";
    std::string name = UploadOk(jpeg_, f);
    EXPECT_TRUE(StreamShows(fd, seen, "\"name\":\"" + name + "\"", 3000)) << seen;
    EXPECT_NE(seen.find("\"title\":\"Erstes \\\"Bild\\\"\""), std::string::npos) << seen;
    EXPECT_EQ(seen.find("fremd"), std::string::npos);

    ClientGet(sp(), "/setname.php?filename=" + name + ".jpg&newfilename=Umbenannt", kOwnerCookie);
    EXPECT_TRUE(StreamShows(fd, seen, "\"name\":\"umbenannt\"", 3000)) << seen;
    ::close(fd);

    // A reconnecting page passes the last event id and gets only what came after it.
    const std::string page = ClientGet(sp(), "/~live").body;
    const std::size_t at = page.find("data-after=\"") + 12;
    const std::string current = page.substr(at, page.find('"', at) - at);
    int again = OpenStream(sp(), "/~live/events?after=0", "Last-Event-ID: " + current + "\r\n");
    std::string later;
    EXPECT_TRUE(StreamShows(again, later, "retry:", 3000));
    f.screenshotName = "danach";
    UploadOk(jpeg_, f);
    EXPECT_TRUE(StreamShows(again, later, "\"name\":\"danach\"", 3000)) << later;
    EXPECT_EQ(later.find("umbenannt"), std::string::npos);
    ::close(again);

    // An id beyond anything this store handed out (an older state restored since): the page
    // cannot know what it lacks and gets the session afresh.
    int restored = OpenStream(sp(), "/~live/events?after=0", "Last-Event-ID: 999999\r\n");
    std::string afresh;
    EXPECT_TRUE(StreamShows(restored, afresh, "\"name\":\"danach\"", 3000)) << afresh;
    EXPECT_NE(afresh.find("\"name\":\"umbenannt\""), std::string::npos) << afresh;
    ::close(restored);
    EXPECT_EQ(ClientGet(sp(), "/~nosuch/events").status, 404);
}

TEST_P(ServiceTest, StopsCleanlyOnSigtermWithOpenStreams) {
    ServiceProcess& service = *service_;
    ASSERT_EQ(ClientGet(service.servicePort(), "/loginsession.php?sessionname=s").body, "ok s");
    int fd = OpenStream(service.servicePort(), "/~s/events");
    std::string seen;
    ASSERT_TRUE(StreamShows(fd, seen, "retry:", 3000));
    auto start = std::chrono::steady_clock::now();
    int status = service.Stop(SIGTERM);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(service.Output().find("stopped (SIGTERM)"), std::string::npos);
    ::close(fd);
}

} // namespace
} // namespace glimmerly::service::test
