// "Umbenennen" and the end of an upload without the window: the rename request on the wire, what
// the window is told in which order, and when captures may start again.

#include "app/rename_command.h"
#include "app/upload_completion.h"
#include "tests/app/command_test.h"

namespace glimmerly {
namespace {

using Calls = std::vector<std::string>;

const std::string kUploaded = "http://localhost:8460/abc.jpg";
const std::string kUploadStatus = "Screenshot wurde erfolgreich hochgeladen.";

class RenameCommandTest : public testing::CommandTest {
protected:
    void SetUp() override { state.ProposedName = "editor"; }
    // The picture is on the server and its address shown; nothing runs.
    void Uploaded(const std::string& address = kUploaded) {
        window.addressText = address;
        state.UploadDone = true;
        state.CaptureReady = true;
    }
    // Its upload still runs: the job holds the gate.
    void Uploading() {
        state.UploadDone = false;
        state.CaptureReady = false;
    }
    RenameCommand rename{state, http, hosts, gate, window};
    UploadCompletion completion{state, rename, gate, window};
};

TEST_F(RenameCommandTest, TheNameGoesOutRawAndTheNewAddressIsSelected) {
    reply = "http://localhost:8460/urlaub_am_see.jpg";
    Uploaded();
    window.renameText = cp1252::FromUtf8("Urlaub am See für #1");
    rename.ButtonClick();
    // Blank and umlaut go out raw, one byte each; the "#" cuts the rest off.
    EXPECT_EQ(
        Sent(),
        Calls{"GET /setname.php?filename=abc.jpg&newfilename=Urlaub am See f\xFCr  HTTP/1.1"});
    EXPECT_EQ(window.Take(),
              (Calls{"status Screenshot-Name senden...", "status Screenshot wurde umbenannt.",
                     "address selected http://localhost:8460/urlaub_am_see.jpg",
                     "rename controls hidden"}));
    EXPECT_EQ(state.ScreenshotUrl, reply);
    // The name sticks to the window the picture was taken of.
    EXPECT_EQ(state.RememberedProposal, "editor");
    EXPECT_EQ(state.RememberedName, cp1252::FromUtf8("Urlaub am See für #1"));
    EXPECT_EQ(state.NewScreenshotName, "");
    EXPECT_TRUE(state.CaptureReady);
}

TEST_F(RenameCommandTest, AnyOtherReplyIsShownAndTheNameCanBeCorrected) {
    for (const std::string answer : {"https://localhost:8460/neu.jpg", "Name bereits vergeben"}) {
        reply = answer;
        Uploaded();
        window.renameText = "neu";
        rename.ButtonClick();
        EXPECT_EQ(window.Take(),
                  (Calls{"status Screenshot-Name senden...", "status ", "address " + kUploaded,
                         "rename controls shown", "message " + answer, "focus rename"}));
        EXPECT_EQ(state.ScreenshotUrl, kUploaded);
        EXPECT_EQ(state.RememberedName, "");
        EXPECT_EQ(state.NewScreenshotName, "");
        EXPECT_TRUE(state.CaptureReady);
    }
}

TEST_F(RenameCommandTest, AnEmptyLastSegmentAndAnEmptyNameGoOutEmpty) {
    reply = "Bild nicht gefunden";
    Uploaded("http://localhost:8460/");
    window.renameText = "";
    rename.ButtonClick();
    EXPECT_EQ(Sent(), Calls{"GET /setname.php?filename=&newfilename= HTTP/1.1"});
}

TEST_F(RenameCommandTest, AFailedRequestKeepsTheNameAndReArms) {
    const ServiceHosts nobody{hosts.upload, "127.0.0.1:" + std::to_string(testing::UnusedPort())};
    RenameCommand refused{state, http, nobody, gate, window};
    Uploaded();
    window.renameText = "plan";
    try {
        refused.ButtonClick();
        ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Socket Error # 10061", 0), 0u) << e.what();
    }
    EXPECT_EQ(window.Take(), Calls{"status Screenshot-Name senden..."});
    EXPECT_EQ(state.NewScreenshotName, "plan");
    EXPECT_TRUE(state.CaptureReady);
}

// A Print pressed while the request blocks the window thread waits in the queue; once the reply
// is in, it must be dropped rather than start a capture (which would also wipe the new address).
TEST_F(RenameCommandTest, PrintPressedWhileTheRenameWaitsIsDropped) {
    reply = "http://localhost:8460/plan.jpg";
    Uploaded();
    bool readyMeanwhile = true;
    whileAnswering = [&] {
        readyMeanwhile = state.CaptureReady;
        desktop.hotKeys().Queue(kPrint);
    };
    window.renameText = "plan";
    rename.ButtonClick();
    EXPECT_FALSE(readyMeanwhile);
    EXPECT_EQ(desktop.hotKeys().DeliverQueued(), 0);
    EXPECT_TRUE(state.CaptureReady);
    desktop.hotKeys().Queue(kPrint); // a press after the reply works as always
    EXPECT_EQ(desktop.hotKeys().DeliverQueued(), 1);
}

TEST_F(RenameCommandTest, ANameTypedDuringTheUploadIsSentOnceItSucceeded) {
    reply = "http://localhost:8460/plan.jpg";
    Uploading();
    window.renameText = "plan";
    rename.ButtonClick();
    EXPECT_EQ(window.Take(), Calls{"rename controls hidden"}); // the name waits
    EXPECT_TRUE(Sent().empty());

    whileAnswering = [&] { desktop.hotKeys().Queue(kPrint); };
    completion.CompleteUpload(kUploaded, kUploadStatus);
    EXPECT_EQ(Sent(), Calls{"GET /setname.php?filename=abc.jpg&newfilename=plan HTTP/1.1"});
    // The upload's own status comes last, after the rename's.
    EXPECT_EQ(window.Take(),
              (Calls{"status Screenshot-Name senden...", "status Screenshot wurde umbenannt.",
                     "address selected http://localhost:8460/plan.jpg", "rename controls hidden",
                     "status " + kUploadStatus, "unlock"}));
    EXPECT_TRUE(state.UploadDone);
    EXPECT_EQ(state.RememberedName, "plan");
    EXPECT_EQ(desktop.hotKeys().DeliverQueued(), 0);
    EXPECT_TRUE(state.CaptureReady);
}

TEST_F(RenameCommandTest, WithoutAWaitingNameTheUploadShowsItsAddress) {
    Uploading();
    window.renameText = ""; // an empty name waits as nothing
    rename.ButtonClick();
    completion.CompleteUpload(kUploaded, kUploadStatus);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(window.Take(), (Calls{"rename controls hidden", "address " + kUploaded,
                                    "status " + kUploadStatus, "unlock"}));
    EXPECT_EQ(state.ScreenshotUrl, kUploaded);
    EXPECT_TRUE(state.UploadDone);
    EXPECT_TRUE(state.CaptureReady);
}

TEST_F(RenameCommandTest, AWaitingRenameThatFailsStillShowsTheUploadedPicture) {
    failStatus = "HTTP/1.1 500 Internal Server Error\r\n";
    Uploading();
    window.renameText = "plan";
    rename.ButtonClick();
    window.Take();
    completion.CompleteUpload(kUploaded, kUploadStatus);
    EXPECT_EQ(
        window.Take(),
        (Calls{"status Screenshot-Name senden...", "address " + kUploaded, "rename controls shown",
               "status Umbenennen fehlgeschlagen: HTTP/1.1 500 Internal Server Error", "unlock"}));
    EXPECT_TRUE(state.UploadDone);
    EXPECT_TRUE(state.CaptureReady);

    // The rename can be tried again at once.
    failStatus.clear();
    reply = "http://localhost:8460/plan.jpg";
    rename.ButtonClick();
    EXPECT_EQ(Sent().back(), "GET /setname.php?filename=abc.jpg&newfilename=plan HTTP/1.1");
    EXPECT_EQ(window.addressText, reply);
}

TEST_F(RenameCommandTest, AJobEndingWithoutAPictureOnTheServerLeavesNothingToRename) {
    // Refused, or saved locally.
    Uploading();
    completion.FinishJob();
    EXPECT_EQ(window.Take(), (Calls{"rename controls hidden", "unlock"}));
    EXPECT_TRUE(state.CaptureReady);

    // Failed: a name typed meanwhile is dropped, nothing is sent.
    Uploading();
    window.renameText = "plan";
    rename.ButtonClick();
    completion.FailJob("Hochladen fehlgeschlagen: Socket Error # 10061");
    EXPECT_EQ(window.Take(), (Calls{"rename controls hidden",
                                    "status Hochladen fehlgeschlagen: Socket Error # 10061",
                                    "rename controls hidden", "unlock"}));
    EXPECT_EQ(state.NewScreenshotName, "");
    EXPECT_FALSE(state.UploadDone);
    EXPECT_TRUE(state.CaptureReady);
    EXPECT_TRUE(Sent().empty());
}

} // namespace
} // namespace glimmerly
