// "Session-Modus" without the window: the login request on the wire, how the reply changes the
// window in which order, and that no capture starts while the dialog or the request runs.

#include "app/session_login.h"
#include "tests/app/command_test.h"

namespace glimmerly {
namespace {

using Calls = std::vector<std::string>;

class SessionLoginTest : public testing::CommandTest {
protected:
    void SetUp() override {
        window.onUncheck = [this] { session.CheckBoxChanged(false); };
        state.CaptureReady = true;
    }
    // Ticks the box; the dialog answers `typed` (Windows-1252).
    void LogIn(const std::string& typed) {
        window.sessionAnswer = typed;
        session.CheckBoxChanged(true);
    }
    std::string Page(const std::string& name) { return "http://" + server.Host() + "/~" + name; }

    SessionLogin session{state, http, *platform, hosts, gate, window};
};

TEST_F(SessionLoginTest, ACancelledDialogLeavesTheModeWithoutARequest) {
    window.sessionAnswer.reset();
    session.CheckBoxChanged(true);
    EXPECT_EQ(window.Take(), (Calls{"ask session", "uncheck", "session name ", "caption reset",
                                    "session address hidden"}));
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(state.CaptureReady);
}

TEST_F(SessionLoginTest, AnOkReplyEntersTheSessionUnderTheTrimmedName) {
    reply = "ok demo";
    LogIn(" \t demo  ");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].RequestLine(),
              "GET /loginsession.php?sessionname=demo HTTP/1.1");
    EXPECT_EQ(window.Take(),
              (Calls{"ask session", "session name demo", "caption +    [Session: demo]",
                     "open browser disabled", "session address " + Page("demo")}));
    EXPECT_EQ(state.SessionName, "demo");
    EXPECT_TRUE(desktop.shell().calls.empty()); // "Browser öffnen" was not ticked

    // Leaving tells the service nothing.
    session.CheckBoxChanged(false);
    EXPECT_EQ(window.Take(), (Calls{"session name ", "caption reset", "session address hidden"}));
    EXPECT_EQ(state.SessionName, "");
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(SessionLoginTest, OkWithoutANameEntersWithAnEmptyName) {
    reply = "ok";
    LogIn("x");
    EXPECT_EQ(window.Take(), (Calls{"ask session", "session name x", "caption +    [Session: ]",
                                    "open browser disabled", "session address " + Page("")}));
    EXPECT_EQ(state.SessionName, "");
}

TEST_F(SessionLoginTest, AnInvalidNameUnchecksFirstThenTells) {
    reply = "invalidname";
    LogIn("a b");
    EXPECT_EQ(window.Take(),
              (Calls{"ask session", "session name a b", "uncheck", "session name ", "caption reset",
                     "session address hidden", "message Ungültiger Session-Name!"}));
    EXPECT_EQ(state.SessionName, "");
}

TEST_F(SessionLoginTest, OtherRepliesLeaveTheBoxCheckedWithoutASession) {
    for (const char* answer : {"invalidname ", "", "Wartung", "okay demo"}) {
        reply = answer;
        LogIn("demo");
        EXPECT_EQ(window.Take(), (Calls{"ask session", "session name demo"})) << answer;
        EXPECT_EQ(state.SessionName, "");
    }
}

TEST_F(SessionLoginTest, OpenBrowserPressesShiftAroundTheShellCall) {
    reply = "ok demo";
    window.openBrowser = true;
    LogIn("demo");
    EXPECT_EQ(desktop.shell().calls, (Calls{"PressShift", "Open " + Page("demo"), "ReleaseShift"}));
    EXPECT_EQ(window.Take(),
              (Calls{"ask session", "session name demo", "caption +    [Session: demo]", "front",
                     "open browser disabled", "session address " + Page("demo")}));
}

TEST_F(SessionLoginTest, NoCaptureStartsWhileTheDialogOrTheRequestRuns) {
    reply = "ok demo";
    std::vector<bool> ready;
    window.whileAsking = [&] { ready.push_back(state.CaptureReady); };
    whileAnswering = [&] {
        ready.push_back(state.CaptureReady);
        desktop.hotKeys().Queue(kPrint);
    };
    LogIn("demo");
    EXPECT_EQ(ready, (std::vector<bool>{false, false}));
    EXPECT_EQ(desktop.hotKeys().DeliverQueued(), 0); // the press waited behind the request
    EXPECT_TRUE(state.CaptureReady);
}

TEST_F(SessionLoginTest, ALoginErrorKeepsTheBoxChecked) {
    const ServiceHosts nobody{hosts.upload, "127.0.0.1:" + std::to_string(testing::UnusedPort())};
    SessionLogin refused{state, http, *platform, nobody, gate, window};
    window.sessionAnswer = "demo";
    try {
        refused.CheckBoxChanged(true);
        ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Socket Error # 10061", 0), 0u) << e.what();
    }
    EXPECT_EQ(window.Take(), (Calls{"ask session", "session name demo"}));
    EXPECT_EQ(state.SessionName, "");
    EXPECT_TRUE(state.CaptureReady);
}

} // namespace
} // namespace glimmerly
