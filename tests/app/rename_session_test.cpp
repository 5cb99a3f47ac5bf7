// Renaming an uploaded picture, session mode and the advanced panel.

#include "app/new_session_form.h"
#include "tests/app/main_form_fixture.h"

// Named here so that the test target generates it (the fixture header uses it too).
#include "ui_main_form.h"

#include "ui_new_session_form.h"

#include <QTimer>

namespace glimmerly {
namespace {

class RenameTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        StartService();
    }
    // Print with the service holding its answer: returns once the upload has arrived, so that
    // the test can act while the job waits for the reply (HoldUploads(false) lets it go).
    bool PrintWithUploadHeld() {
        HoldUploads(true);
        if (!desktop.hotKeys().Press(kHotKeyPrint))
            return false;
        // The job reaches the window through its event loop: keep it turning while waiting.
        return QTest::qWaitFor([this] { return stub->Requests().size() == 1; }, 20000);
    }
    // Types a name and presses Enter in RenameEdit, as the user does.
    void EnterName(const QString& name) {
        ui().RenameEdit->setFocus();
        ui().RenameEdit->setText(name);
        QTest::keyClick(ui().RenameEdit, Qt::Key_Return);
    }
};

TEST_F(RenameTest, EnterAfterTheUploadSendsTheRawName) {
    renameReply = "http://localhost:8460/urlaub_am_see.jpg";
    CaptureAndWait();
    EnterName(Q("Urlaub am See für #1"));
    const auto lines = RequestLines();
    ASSERT_EQ(lines.size(), 2u);
    // Blank and umlaut go out raw, one byte each; the "#" cuts the rest off.
    EXPECT_EQ(lines[1],
              "GET /setname.php?filename=abc.jpg&newfilename=Urlaub am See f\xFCr  HTTP/1.1");
    EXPECT_EQ(ui().DisplayURLEdit->text(), "http://localhost:8460/urlaub_am_see.jpg");
    EXPECT_TRUE(ui().DisplayURLEdit->hasFocus());
    EXPECT_EQ(ui().DisplayURLEdit->selectedText(), ui().DisplayURLEdit->text());
    EXPECT_TRUE(ui().RenameButton->isHidden());
    EXPECT_TRUE(ui().RenameEdit->isHidden());
    EXPECT_EQ(ui().Label1->text(), "Screenshot wurde umbenannt.");
    EXPECT_EQ(state.RememberedProposal, "editor");
    EXPECT_EQ(state.RememberedName, cp1252::FromUtf8("Urlaub am See für #1"));
    EXPECT_EQ(state.NewScreenshotName, "");
    EXPECT_TRUE(state.CaptureReady);
}

TEST_F(RenameTest, AnyOtherReplyIsShownAndTheControlsComeBack) {
    for (const std::string reply : {"https://localhost:8460/neu.jpg", "Name bereits vergeben"}) {
        renameReply = reply;
        messages.clear();
        CaptureAndWait();
        EnterName("neu");
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], reply);
        EXPECT_EQ(ui().DisplayURLEdit->text(), "http://localhost:8460/abc.jpg");
        EXPECT_FALSE(ui().RenameButton->isHidden());
        EXPECT_TRUE(ui().RenameEdit->hasFocus());
        EXPECT_EQ(ui().Label1->text(), "");
        EXPECT_EQ(state.RememberedName, "");
    }
}

TEST_F(RenameTest, NameTypedDuringTheUploadIsSentRightAfterTheOk) {
    renameReply = "http://localhost:8460/plan.jpg";
    ASSERT_TRUE(PrintWithUploadHeld());
    EnterName("plan");
    EXPECT_TRUE(ui().RenameButton->isHidden()); // the name waits
    EXPECT_EQ(state.NewScreenshotName, "plan");
    HoldUploads(false);
    ASSERT_SOON(state.CaptureReady);
    const auto lines = RequestLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "GET /setname.php?filename=abc.jpg&newfilename=plan HTTP/1.1");
    EXPECT_EQ(ui().DisplayURLEdit->text(), "http://localhost:8460/plan.jpg");
    EXPECT_EQ(ui().Label1->text(), "Screenshot wurde erfolgreich hochgeladen.");
    EXPECT_TRUE(state.UploadDone);
    EXPECT_EQ(state.RememberedName, "plan");
}

TEST_F(RenameTest, NameTypedDuringAFailedUploadIsDropped) {
    uploadStatus = "HTTP/1.1 500 Internal Server Error\r\n";
    ASSERT_TRUE(PrintWithUploadHeld());
    EnterName("plan");
    HoldUploads(false);
    ASSERT_SOON(state.CaptureReady);
    EXPECT_EQ(RequestLines().size(), 1u); // nothing was sent
    EXPECT_EQ(state.NewScreenshotName, "");
    EXPECT_TRUE(ui().RenameButton->isHidden());
    EXPECT_FALSE(state.UploadDone);
}

TEST_F(RenameTest, EmptyNameDuringTheUploadLetsTheJobShowTheAddress) {
    ASSERT_TRUE(PrintWithUploadHeld());
    EnterName("");
    HoldUploads(false);
    ASSERT_SOON(state.CaptureReady);
    EXPECT_EQ(RequestLines().size(), 1u);
    EXPECT_EQ(ui().DisplayURLEdit->text(), "http://localhost:8460/abc.jpg");
}

TEST_F(RenameTest, RenamedNameSticksToTheNextCaptureOfTheSameWindow) {
    renameReply = "http://localhost:8460/plan.jpg";
    CaptureAndWait();
    EnterName("plan");
    CaptureAndWait();
    const auto requests = stub->Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[2].body.find("name=\"screenshotname\"\r\n\r\nplan\r\n"), std::string::npos);
    // Another window proposes another name: no screenshotname.
    desktop.windows().foreground->title = "Posteingang - Mail";
    CaptureAndWait();
    EXPECT_EQ(stub->Requests().back().body.find("screenshotname"), std::string::npos);
}

TEST_F(RenameTest, WaitingRenameThatFailsStillShowsTheUploadedPicture) {
    renameStatus = "HTTP/1.1 500 Internal Server Error\r\n";
    ASSERT_TRUE(PrintWithUploadHeld());
    EnterName("plan");
    HoldUploads(false);
    ASSERT_SOON(state.CaptureReady);
    EXPECT_EQ(RequestLines().size(), 2u);
    EXPECT_EQ(ui().Label1->text(), "Umbenennen fehlgeschlagen: HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(ui().DisplayURLEdit->text(), "http://localhost:8460/abc.jpg");
    EXPECT_FALSE(ui().RenameButton->isHidden());
    EXPECT_TRUE(state.UploadDone);
    EXPECT_TRUE(OptionsEnabled());
    // The rename can be tried again at once.
    renameStatus.clear();
    renameReply = "http://localhost:8460/plan.jpg";
    EnterName("plan");
    EXPECT_EQ(ui().DisplayURLEdit->text(), "http://localhost:8460/plan.jpg");
}

TEST_F(RenameTest, RefusedUploadLeavesNothingToRename) {
    uploadReply = "toobig";
    CaptureAndWait();
    EXPECT_TRUE(ui().RenameButton->isHidden());
    EXPECT_TRUE(ui().RenameEdit->isHidden());
}

TEST_F(RenameTest, FailedRenameRequestReArmsAndKeepsTheName) {
    CaptureAndWait();
    const std::string host = stub->Host();
    stub.reset(); // the service is gone
    EnterName("plan");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("error: Socket Error # 10061", 0), 0u) << messages[0];
    EXPECT_TRUE(state.CaptureReady);
    EXPECT_EQ(state.NewScreenshotName, "plan");
    EXPECT_EQ(ui().Label1->text(), "Screenshot-Name senden...");
    EXPECT_FALSE(ui().RenameButton->isHidden());
}

TEST_F(RenameTest, EmptyLastSegmentGivesAnEmptyFilename) {
    uploadReply = "ok|3.2|http://localhost:8460/";
    renameReply = "Bild nicht gefunden";
    CaptureAndWait();
    EnterName("x");
    EXPECT_EQ(RequestLines().back(), "GET /setname.php?filename=&newfilename=x HTTP/1.1");
}

// Print pressed while a request blocks the window thread waits in the queue; once the reply is
// in, it must be dropped rather than start a capture (which would also wipe the new address).
TEST_F(RenameTest, PrintPressedWhileTheRenameWaitsIsDropped) {
    renameReply = "http://localhost:8460/plan.jpg";
    CaptureAndWait();
    whileAnswering = [this](const std::string& line) {
        if (line.rfind("GET /setname.php", 0) == 0)
            desktop.hotKeys().Queue(kHotKeyPrint);
    };
    EnterName("plan");
    desktop.hotKeys().DeliverQueued();
    EXPECT_EQ(desktop.screen().grabs.size(), 1u);
    EXPECT_EQ(ui().DisplayURLEdit->text(), "http://localhost:8460/plan.jpg");
    EXPECT_TRUE(state.CaptureReady);
    CaptureAndWait(); // a press after the reply works as always
    EXPECT_EQ(desktop.screen().grabs.size(), 2u);
}

TEST_F(RenameTest, PrintPressedWhileTheJobsRenameWaitsIsDropped) {
    renameReply = "http://localhost:8460/plan.jpg";
    ASSERT_TRUE(PrintWithUploadHeld());
    EnterName("plan");
    whileAnswering = [this](const std::string& line) {
        if (line.rfind("GET /setname.php", 0) == 0)
            desktop.hotKeys().Queue(kHotKeyCtrlEnd);
    };
    HoldUploads(false);
    ASSERT_SOON(state.CaptureReady);
    desktop.hotKeys().DeliverQueued();
    EXPECT_EQ(desktop.screen().grabs.size(), 1u);
    EXPECT_EQ(ui().DisplayURLEdit->text(), "http://localhost:8460/plan.jpg");
}

class SessionTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        sessionForm = std::make_unique<NewSessionForm>(form.get());
        form->SetDialogs(sessionForm.get(), nullptr);
        StartService();
    }
    void TearDown() override {
        sessionForm.reset();
        MainFormTest::TearDown();
    }
    // Checks the box; the dialog that opens is answered by `answer`.
    void CheckWithDialog(std::function<void(NewSessionForm&)> answer) {
        QTimer::singleShot(0, [this, answer] {
            ASSERT_TRUE(sessionForm->isVisible());
            EXPECT_EQ(sessionForm->Controls().SessionNameEdit->text(), ""); // always opens empty
            answer(*sessionForm);
        });
        ui().SessionModeCheckBox->click();
    }
    void LogIn(const QString& typed) {
        CheckWithDialog([typed](NewSessionForm& dialog) {
            dialog.Controls().SessionNameEdit->setText(typed);
            dialog.Controls().Button1->click();
        });
    }
    std::unique_ptr<NewSessionForm> sessionForm;
};

TEST_F(SessionTest, DialogLayout) {
    EXPECT_EQ(sessionForm->windowTitle(), "Session-Modus starten");
    EXPECT_EQ(sessionForm->Controls().GroupBox1->title(), " Zugangsdaten ");
    EXPECT_EQ(sessionForm->Controls().Button2->text(), "Abbrechen");
    EXPECT_TRUE(sessionForm->Controls().Button1->isDefault());
}

TEST_F(SessionTest, CancelUnchecksWithoutARequest) {
    CheckWithDialog([](NewSessionForm& dialog) { dialog.Controls().Button2->click(); });
    EXPECT_FALSE(ui().SessionModeCheckBox->isChecked());
    EXPECT_TRUE(stub->Requests().empty());
    EXPECT_EQ(form->windowTitle(), "Glimmerly 3.2");

    CheckWithDialog([](NewSessionForm& dialog) {
        QTest::keyClick(dialog.Controls().SessionNameEdit, Qt::Key_Escape);
    });
    EXPECT_FALSE(ui().SessionModeCheckBox->isChecked());
    EXPECT_TRUE(stub->Requests().empty());
}

TEST_F(SessionTest, PrintWhileTheDialogIsOpenIsDropped) {
    loginReply = "ok demo";
    CheckWithDialog([this](NewSessionForm& dialog) {
        EXPECT_TRUE(desktop.hotKeys().Press(kHotKeyPrint));
        EXPECT_TRUE(desktop.screen().grabs.empty());
        dialog.Controls().SessionNameEdit->setText("demo");
        dialog.Controls().Button1->click();
    });
    EXPECT_TRUE(desktop.screen().grabs.empty());
    EXPECT_EQ(RequestLines().size(), 1u); // only the login
    EXPECT_EQ(state.SessionName, "demo");
    EXPECT_TRUE(state.CaptureReady);
    CaptureAndWait(); // and captures work again afterwards
}

TEST_F(SessionTest, PrintPressedWhileTheLoginWaitsIsDropped) {
    loginReply = "ok demo";
    whileAnswering = [this](const std::string& line) {
        if (line.rfind("GET /loginsession.php", 0) == 0)
            desktop.hotKeys().Queue(kHotKeyPrint);
    };
    LogIn("demo");
    desktop.hotKeys().DeliverQueued();
    EXPECT_TRUE(desktop.screen().grabs.empty());
    EXPECT_EQ(state.SessionName, "demo");
    EXPECT_TRUE(state.CaptureReady);
}

TEST_F(SessionTest, OkReplyEntersTheSession) {
    loginReply = "ok demo";
    LogIn("  demo  ");
    EXPECT_EQ(RequestLines().at(0), "GET /loginsession.php?sessionname=demo HTTP/1.1");
    EXPECT_EQ(sessionForm->Controls().SessionNameEdit->text(), "demo");
    EXPECT_EQ(state.SessionName, "demo");
    EXPECT_EQ(form->windowTitle(), "Glimmerly 3.2   [Session: demo]");
    EXPECT_TRUE(ui().SessionUrlPanel->isVisible());
    const QString page = QString::fromStdString("http://" + stub->Host() + "/~demo");
    EXPECT_EQ(ui().SessionUrlEdit->text(), page);
    EXPECT_EQ(ui().SessionUrlEdit->selectedText(), page);
    EXPECT_EQ(form->focusWidget(), ui().SessionUrlEdit);
    EXPECT_FALSE(ui().OpenBrowserCheckbox->isEnabled());
    EXPECT_TRUE(desktop.shell().calls.empty()); // "Browser öffnen" was not ticked

    // Uploads carry the session; the next capture's reset drops the caption suffix only.
    CaptureAndWait();
    EXPECT_EQ(form->windowTitle(), "Glimmerly 3.2");
    EXPECT_NE(stub->Requests().back().body.find("name=\"sessionname\"\r\n\r\ndemo\r\n"),
              std::string::npos);
    EXPECT_FALSE(ui().LoginSessionButton->isEnabled());
}

TEST_F(SessionTest, OkWithoutANameEntersWithAnEmptyName) {
    loginReply = "ok";
    LogIn("x");
    EXPECT_TRUE(ui().SessionModeCheckBox->isChecked());
    EXPECT_EQ(state.SessionName, "");
    EXPECT_EQ(form->windowTitle(), "Glimmerly 3.2   [Session: ]");
    CaptureAndWait();
    EXPECT_EQ(stub->Requests().back().body.find("sessionname"), std::string::npos);
}

TEST_F(SessionTest, InvalidNameUnchecksFirstThenTells) {
    loginReply = "invalidname";
    bool checkedWhenTold = true;
    SetMessageBoxSink([&](const QString& text, MessageKind) {
        messages.push_back(text.toStdString());
        checkedWhenTold = ui().SessionModeCheckBox->isChecked();
    });
    LogIn("a b");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Ungültiger Session-Name!");
    EXPECT_FALSE(checkedWhenTold);
    EXPECT_FALSE(ui().SessionModeCheckBox->isChecked());
    EXPECT_EQ(state.SessionName, "");
}

TEST_F(SessionTest, OtherRepliesLeaveTheBoxCheckedWithoutASession) {
    for (const char* reply : {"invalidname ", "", "Wartung"}) {
        loginReply = reply;
        ui().SessionModeCheckBox->setChecked(false);
        LogIn("demo");
        EXPECT_TRUE(ui().SessionModeCheckBox->isChecked()) << reply;
        EXPECT_EQ(state.SessionName, "");
        EXPECT_EQ(form->windowTitle(), "Glimmerly 3.2");
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(SessionTest, UncheckingSendsNothingAndHidesThePanel) {
    loginReply = "ok demo";
    LogIn("demo");
    const auto sent = stub->Requests().size();
    ui().SessionModeCheckBox->click();
    EXPECT_EQ(stub->Requests().size(), sent);
    EXPECT_FALSE(ui().SessionUrlPanel->isVisible());
    EXPECT_EQ(state.SessionName, "");
    EXPECT_EQ(sessionForm->Controls().SessionNameEdit->text(), "");
    EXPECT_EQ(form->windowTitle(), "Glimmerly 3.2");
    form->LockOptions(false);
    EXPECT_TRUE(ui().LoginSessionButton->isEnabled());
}

TEST_F(SessionTest, OpenBrowserPressesShiftAroundTheShellCall) {
    loginReply = "ok demo";
    ui().OpenBrowserCheckbox->setChecked(true);
    LogIn("demo");
    const std::string page = "http://" + stub->Host() + "/~demo";
    EXPECT_EQ(desktop.shell().calls,
              (std::vector<std::string>{"PressShift", "Open " + page, "ReleaseShift"}));
    EXPECT_FALSE(desktop.shell().shiftDown);
    EXPECT_FALSE(ui().OpenBrowserCheckbox->isEnabled());
    EXPECT_GE(desktop.windows().broughtToFront.size(), 1u);
}

TEST_F(SessionTest, LoginErrorKeepsTheBoxChecked) {
    stub.reset();
    form->SetHostsForTesting("127.0.0.1:1", "127.0.0.1:1");
    LogIn("demo");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("error: Socket Error # 10061", 0), 0u);
    EXPECT_TRUE(ui().SessionModeCheckBox->isChecked());
    EXPECT_EQ(form->windowTitle(), "Glimmerly 3.2");
}

TEST_F(MainFormTest, AdvancedPanelFoldsOutAndBack) {
    QToolButton* button = ui().SpeedButton1;
    ASSERT_TRUE(button->isVisible());
    // The button sits on the window without covering any other control.
    for (QWidget* other :
         {static_cast<QWidget*>(ui().SaveLocalCheckBox),
          static_cast<QWidget*>(ui().SessionModeCheckBox), static_cast<QWidget*>(ui().EditCheckBox),
          static_cast<QWidget*>(ui().ActiveWindowCheckBox), static_cast<QWidget*>(ui().Notebook1),
          static_cast<QWidget*>(ui().Panel2)})
        EXPECT_FALSE(button->geometry().intersects(other->geometry()))
            << other->objectName().toStdString();
    EXPECT_TRUE(form->rect().contains(button->geometry()));

    button->click();
    EXPECT_TRUE(ui().Panel1->isVisible());
    EXPECT_EQ(ui().Panel1->height(), 80);
    EXPECT_EQ(ui().Panel2->y(), 288);
    EXPECT_EQ(form->height(), 335);
    EXPECT_FALSE(ui().SessionUrlPanel->geometry().intersects(ui().Panel1->geometry()));

    button->click();
    EXPECT_FALSE(ui().Panel1->isVisible());
    EXPECT_EQ(ui().Panel2->y(), 200);
    EXPECT_EQ(form->height(), 247);
}

TEST_F(MainFormTest, LinkOpensTheWebSite) {
    form->SetHostsForTesting("up:1", "svc:2");
    QTest::mouseClick(ui().Label5, Qt::LeftButton);
    EXPECT_EQ(desktop.shell().opened, std::vector<std::string>{"http://svc:2/"});
}

TEST_F(MainFormTest, DontBringToFrontChangesOnlyItsMark) {
    ui().DontBringToFrontCheckbox->click();
    EXPECT_TRUE(ui().DontBringToFrontCheckbox->isChecked());
    stub = std::make_unique<LoopbackServer>(
        [](const RecordedRequest&) { return LoopbackServer::Ok("toobig"); });
    form->SetHostsForTesting(stub->Host(), stub->Host());
    CaptureAndWait();
    EXPECT_FALSE(desktop.windows().broughtToFront.empty());
}

} // namespace
} // namespace glimmerly
