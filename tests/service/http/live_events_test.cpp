// The live-update stream over the wire, on both stores: change order across a reconnect,
// notices that lie, a counter that goes backwards, the places for streams and their lifetime.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/service/service_fixture.h"

namespace glimmerly::service::test {
namespace {

using namespace std::chrono_literals;

class LiveEventsTest : public ServiceTest {
protected:
    // Opens a stream of session s; extra header lines end in \r\n.
    int Open(const std::string& target, const std::string& extra = {}) {
        const int fd = Connect(sp());
        std::string request = "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + extra + "\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        fds_.push_back(fd);
        return fd;
    }
    // Reads until pred holds for what came so far, the peer closes or 10 s pass.
    template <typename Pred> bool ReadUntil(int fd, std::string& seen, Pred pred) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!pred(seen)) {
            if (std::chrono::steady_clock::now() > deadline || !ReadMore(fd, seen, 1000)) {
                return pred(seen);
            }
        }
        return true;
    }
    bool Shows(int fd, std::string& seen, const std::string& text) {
        return ReadUntil(fd, seen,
                         [&](const std::string& s) { return s.find(text) != std::string::npos; });
    }
    // Reads until the service ends the stream (its last chunk, or the connection closed); false
    // when it is still open after 10 s.
    bool Ends(int fd, std::string& seen) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (seen.ends_with("\r\n0\r\n\r\n")) {
                return true;
            }
            char buffer[4096];
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 500) > 0) {
                ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    return true;
                }
                seen.append(buffer, static_cast<std::size_t>(n));
            }
        }
        return false;
    }
    std::string Upload(const std::string& session, const std::string& typed) {
        UploadFields f;
        f.sessionName = session;
        f.screenshotName = typed;
        return UploadOk(jpeg_, f);
    }
    // The change the page of session s was built at.
    std::string PageAfter(const std::string& session) {
        const std::string page = ClientGet(sp(), "/~" + session).body;
        const std::string key = "data-after=\"";
        const std::size_t at = page.find(key);
        EXPECT_NE(at, std::string::npos) << page;
        return page.substr(at + key.size(), page.find('"', at + key.size()) - at - key.size());
    }
    void Sql(const std::string& sql) {
        const std::string name = database_.substr(database_.rfind('/') + 1);
        EXPECT_EQ(PgCluster::Shared()->Sql(name, sql), "") << sql;
    }
    void TearDown() override {
        for (int fd : fds_) {
            ::close(fd);
        }
    }

    std::vector<int> fds_;
};

// Upload A, build the page, upload B, rename A: the page's stream gets B before A's rename, so a
// page that reconnects after the first event still gets the second.
TEST_P(LiveEventsTest, EventsGoOutInChangeOrderAndAReconnectBetweenThemLosesNone) {
    ASSERT_EQ(ClientGet(sp(), "/loginsession.php?sessionname=s").body, "ok s");
    const std::string a = Upload("s", "Anfang");
    const std::string after = PageAfter("s");
    const std::string b = Upload("s", "Zweites");
    ASSERT_EQ(
        ClientGet(sp(), "/setname.php?filename=" + a + ".jpg&newfilename=Umbenannt", kOwnerCookie)
            .status,
        200);

    int fd = Open("/~s/events?after=" + after);
    std::string seen;
    ASSERT_TRUE(ReadUntil(fd, seen, [](const std::string& s) {
        return PictureEvents(s).size() >= 2;
    })) << seen;
    std::vector<StreamEvent> events = PictureEvents(seen);
    ASSERT_EQ(events.size(), 2u) << seen;
    EXPECT_LT(events[0].id, events[1].id);
    EXPECT_NE(events[0].data.find("\"name\":\"" + b + "\""), std::string::npos) << seen;
    EXPECT_NE(events[1].data.find("\"name\":\"umbenannt\""), std::string::npos) << seen;

    // The connection drops after the first event; the browser comes back with its id.
    const std::string lastId = std::to_string(events[0].id);
    int again = Open("/~s/events?after=" + after, "Last-Event-ID: " + lastId + "\r\n");
    std::string later;
    EXPECT_TRUE(Shows(again, later, "\"name\":\"umbenannt\"")) << later;
    std::vector<StreamEvent> resent = PictureEvents(later);
    ASSERT_EQ(resent.size(), 1u) << later;
    EXPECT_EQ(resent[0].id, events[1].id);

    // The same from an instance that started after these changes (the page was built by
    // another): it reads them itself, in the same order.
    const std::string c = Upload("s", "Drittes");
    Restart();
    fds_.clear();
    int restarted = Open("/~s/events?after=" + after);
    std::string fresh;
    ASSERT_TRUE(ReadUntil(restarted, fresh, [](const std::string& s) {
        return PictureEvents(s).size() >= 3;
    })) << fresh;
    std::vector<StreamEvent> reread = PictureEvents(fresh);
    ASSERT_EQ(reread.size(), 3u) << fresh;
    EXPECT_EQ(reread[0].id, events[0].id);
    EXPECT_EQ(reread[1].id, events[1].id);
    EXPECT_NE(reread[2].data.find("\"name\":\"" + c + "\""), std::string::npos) << fresh;
}

// A stream is admitted only while its session and its address have places left; a refused page
// is told to come back much later, and the places of pages that left are free again.
TEST_P(LiveEventsTest, StreamsHaveLimitedPlacesThatFreeWhenTheirClientsLeave) {
    Restart({"--event-streams", "2", "--event-ping", "0.2"});
    ASSERT_EQ(ClientGet(sp(), "/loginsession.php?sessionname=s").body, "ok s");
    ASSERT_EQ(ClientGet(sp(), "/loginsession.php?sessionname=t").body, "ok t");
    std::string one, two, three;
    int first = Open("/~s/events");
    int second = Open("/~t/events");
    ASSERT_TRUE(Shows(first, one, "retry: 2000\n\n")) << one;
    ASSERT_TRUE(Shows(second, two, "retry: 2000\n\n")) << two;
    int refused = Open("/~s/events");
    EXPECT_TRUE(Ends(refused, three)) << three;
    EXPECT_NE(three.find("retry: 30000\n\n"), std::string::npos) << three;
    EXPECT_EQ(three.find("id: "), std::string::npos) << three;

    // The admitted ones still get their session's pictures.
    const std::string name = Upload("s", "Platz");
    EXPECT_TRUE(Shows(first, one, "\"name\":\"" + name + "\"")) << one;

    ::close(first);
    ::close(second);
    fds_.clear();
    // The service notices at the next keep-alive that nobody reads any more.
    std::string back;
    for (int attempt = 0; attempt < 50 && back.find("retry: 2000") == std::string::npos;
         ++attempt) {
        std::this_thread::sleep_for(200ms);
        back.clear();
        int fd = Open("/~s/events");
        ReadUntil(fd, back, [](const std::string& s) { return s.find("retry: ") != s.npos; });
    }
    EXPECT_NE(back.find("retry: 2000\n\n"), std::string::npos) << back;
}

// A stream ends after its lifetime; the page reconnects with its last id and misses nothing.
TEST_P(LiveEventsTest, AStreamEndsAfterItsLifetimeAndThePageCarriesOn) {
    Restart({"--event-lifetime", "2", "--event-ping", "0.2"});
    ASSERT_EQ(ClientGet(sp(), "/loginsession.php?sessionname=s").body, "ok s");
    int fd = Open("/~s/events?after=" + PageAfter("s"));
    std::string seen;
    ASSERT_TRUE(Shows(fd, seen, "retry: 2000\n\n")) << seen;
    const std::string name = Upload("s", "Vorher");
    EXPECT_TRUE(Ends(fd, seen)) << seen;
    std::vector<StreamEvent> events = PictureEvents(seen);
    ASSERT_EQ(events.size(), 1u) << seen;

    const std::string later = Upload("s", "Nachher");
    int again = Open("/~s/events", "Last-Event-ID: " + std::to_string(events[0].id) + "\r\n");
    std::string more;
    EXPECT_TRUE(Shows(again, more, "\"name\":\"" + later + "\"")) << more;
    EXPECT_EQ(more.find("\"name\":\"" + name + "\""), std::string::npos) << more;
}

// Any database role may send a notice with any payload. It neither stops the keep-alives (a
// stream busy with a count it can never reach writes nothing and so never notices that its client
// left) nor hides the next change.
TEST_P(LiveEventsTest, ANoticeWithAFalseCountIsOnlyAReasonToLook) {
    if (GetParam() != Backend::Postgres) {
        GTEST_SKIP() << "only the PostgreSQL store hears notices";
    }
    Restart({"--event-ping", "0.2"});
    ASSERT_EQ(ClientGet(sp(), "/loginsession.php?sessionname=s").body, "ok s");
    int fd = Open("/~s/events?after=" + PageAfter("s"));
    std::string seen;
    ASSERT_TRUE(Shows(fd, seen, "retry: 2000\n\n")) << seen;
    Sql("NOTIFY glimmerly_changes, '99999999999'");
    std::this_thread::sleep_for(300ms);
    seen.clear();
    EXPECT_TRUE(Shows(fd, seen, ": ping\n\n")) << seen;
    seen.clear();
    EXPECT_TRUE(Shows(fd, seen, ": ping\n\n")) << seen;
    const std::string name = Upload("s", "Echt");
    EXPECT_TRUE(Shows(fd, seen, "\"name\":\"" + name + "\"")) << seen;
}

// An older dump restored under running instances: the counter goes backwards. The open page gets
// its session afresh (new pictures included) instead of waiting for counts that were undone.
TEST_P(LiveEventsTest, ACounterThatWentBackwardsResynchronisesTheStreams) {
    if (GetParam() != Backend::Postgres) {
        GTEST_SKIP() << "a SQLite data folder is not replaced under its running service";
    }
    Restart({"--event-ping", "0.2"});
    ASSERT_EQ(ClientGet(sp(), "/loginsession.php?sessionname=s").body, "ok s");
    const std::string kept = Upload("s", "Bleibt");
    const std::string dumpedAt = PageAfter("s");
    Upload("s", "Verloren1");
    Upload("s", "Verloren2");
    int fd = Open("/~s/events?after=" + PageAfter("s"));
    std::string seen;
    ASSERT_TRUE(Shows(fd, seen, "retry: 2000\n\n")) << seen;
    Sql("BEGIN; DELETE FROM pictures WHERE seq > " + dumpedAt +
        "; UPDATE change_counter SET last = " + dumpedAt + "; COMMIT");
    const std::string fresh = Upload("s", "Neu");
    EXPECT_TRUE(Shows(fd, seen, "\"name\":\"" + fresh + "\"")) << seen;
    EXPECT_TRUE(Shows(fd, seen, "\"name\":\"" + kept + "\"")) << seen;
    // And it keeps going from there.
    const std::string next = Upload("s", "Weiter");
    EXPECT_TRUE(Shows(fd, seen, "\"name\":\"" + next + "\"")) << seen;
    seen.clear();
    EXPECT_TRUE(Shows(fd, seen, ": ping\n\n")) << seen;
}

GLIMMERLY_BOTH_STORES(LiveEventsTest);

} // namespace
} // namespace glimmerly::service::test
