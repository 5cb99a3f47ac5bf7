// Renaming an uploaded picture and session mode as the window shows them, and the advanced
// panel. What the commands send and decide is tested on the commands themselves.

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

TEST_F(RenameTest, EnterAfterTheUploadRenamesAndSelectsTheNewAddress) {
    renameReply = "http://localhost:8460/plan.jpg";
    CaptureAndWait();
    EnterName("plan");
    EXPECT_EQ(RequestLines().back(), "GET /setname.php?filename=abc.jpg&newfilename=plan HTTP/1.1");
    EXPECT_EQ(ui().DisplayURLEdit->text(), "http://localhost:8460/plan.jpg");
    EXPECT_TRUE(ui().DisplayURLEdit->hasFocus());
    EXPECT_EQ(ui().DisplayURLEdit->selectedText(), ui().DisplayURLEdit->text());
    EXPECT_TRUE(ui().RenameLabel->isHidden());
    EXPECT_TRUE(ui().RenameEdit->isHidden());
    EXPECT_TRUE(ui().RenameButton->isHidden());
    EXPECT_EQ(ui().Label1->text(), "Screenshot wurde umbenannt.");
}

TEST_F(RenameTest, ARefusedNameComesBackForCorrection) {
    renameReply = "Name bereits vergeben";
    CaptureAndWait();
    ui().RenameEdit->setText("neu");
    QTest::mouseClick(ui().RenameButton, Qt::LeftButton); // the button takes the focus
    EXPECT_EQ(RequestLines().back(), "GET /setname.php?filename=abc.jpg&newfilename=neu HTTP/1.1");
    EXPECT_EQ(messages, std::vector<std::string>{"Name bereits vergeben"});
    EXPECT_EQ(ui().DisplayURLEdit->text(), "http://localhost:8460/abc.jpg");
    EXPECT_FALSE(ui().RenameLabel->isHidden());
    EXPECT_FALSE(ui().RenameButton->isHidden());
    EXPECT_TRUE(ui().RenameEdit->hasFocus());
    EXPECT_EQ(ui().Label1->text(), "");
}

// The job waits on its own thread while the window thread sends the name.
TEST_F(RenameTest, NameTypedDuringTheUploadIsSentRightAfterTheOk) {
    renameReply = "http://localhost:8460/plan.jpg";
    ASSERT_TRUE(PrintWithUploadHeld());
    EnterName("plan");
    EXPECT_TRUE(ui().RenameButton->isHidden()); // the name waits
    HoldUploads(false);
    ASSERT_SOON(state.CaptureReady);
    EXPECT_EQ(RequestLines().back(), "GET /setname.php?filename=abc.jpg&newfilename=plan HTTP/1.1");
    EXPECT_EQ(ui().DisplayURLEdit->text(), "http://localhost:8460/plan.jpg");
    EXPECT_EQ(ui().Label1->text(), "Screenshot wurde erfolgreich hochgeladen.");
    EXPECT_TRUE(OptionsEnabled());
}

TEST_F(RenameTest, ErrorsOfTheRenameAndTheLoginGoToTheErrorDisplay) {
    CaptureAndWait();
    stub.reset(); // the service is gone
    EnterName("plan");
    NewSessionForm sessionForm(form.get());
    form->SetDialogs(&sessionForm, nullptr);
    QTimer::singleShot(0, [&] {
        sessionForm.Controls().SessionNameEdit->setText("demo");
        sessionForm.Controls().Button1->click();
    });
    ui().SessionModeCheckBox->click();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].rfind("error: Socket Error # 10061", 0), 0u) << messages[0];
    EXPECT_EQ(messages[1].rfind("error: Socket Error # 10061", 0), 0u) << messages[1];
    EXPECT_FALSE(ui().RenameButton->isHidden());
    EXPECT_TRUE(ui().SessionModeCheckBox->isChecked());
    EXPECT_EQ(form->windowTitle(), "Glimmerly 3.2");
    EXPECT_TRUE(state.CaptureReady);
}

class SessionTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        StartService(); // before the dialog: it builds the window again
        sessionForm = std::make_unique<NewSessionForm>(form.get());
        form->SetDialogs(sessionForm.get(), nullptr);
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

TEST_F(SessionTest, LoggedInTheWindowShowsTheSessionUntilUnchecked) {
    loginReply = "ok demo";
    LogIn("  demo  ");
    EXPECT_EQ(sessionForm->Controls().SessionNameEdit->text(), "demo");
    EXPECT_EQ(form->windowTitle(), "Glimmerly 3.2   [Session: demo]");
    EXPECT_TRUE(ui().SessionUrlPanel->isVisible());
    const QString page = QString::fromStdString("http://" + stub->Host() + "/~demo");
    EXPECT_EQ(ui().SessionUrlEdit->text(), page);
    EXPECT_EQ(ui().SessionUrlEdit->selectedText(), page);
    EXPECT_EQ(form->focusWidget(), ui().SessionUrlEdit);
    EXPECT_FALSE(ui().OpenBrowserCheckbox->isEnabled());

    // The next capture's reset drops the caption's suffix only.
    CaptureAndWait();
    EXPECT_EQ(form->windowTitle(), "Glimmerly 3.2");
    EXPECT_FALSE(ui().LoginSessionButton->isEnabled());
    EXPECT_TRUE(ui().SessionUrlPanel->isVisible());

    ui().SessionModeCheckBox->click();
    EXPECT_FALSE(ui().SessionUrlPanel->isVisible());
    EXPECT_EQ(sessionForm->Controls().SessionNameEdit->text(), "");
    form->LockOptions(false);
    EXPECT_TRUE(ui().LoginSessionButton->isEnabled());
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

    // The panel opens at the height it carries; the footer and the window's bottom make room.
    const int footer = ui().Panel2->y();
    const int height = form->height();
    button->click();
    EXPECT_TRUE(ui().Panel1->isVisible());
    const int room = ui().Panel1->property("Tag").toInt();
    EXPECT_EQ(ui().Panel1->height(), room);
    EXPECT_EQ(ui().Panel2->y(), footer + room + 8);
    EXPECT_EQ(form->height(), height + room + 8);
    EXPECT_LT(ui().Panel1->geometry().bottom(), ui().Panel2->y());
    EXPECT_FALSE(ui().SessionUrlPanel->geometry().intersects(ui().Panel1->geometry()));

    button->click();
    EXPECT_FALSE(ui().Panel1->isVisible());
    EXPECT_EQ(ui().Panel2->y(), footer);
    EXPECT_EQ(form->height(), height);
}

TEST_F(MainFormTest, LinkOpensTheWebSite) {
    UseHosts({"up:1", "svc:2"});
    QTest::mouseClick(ui().Label5, Qt::LeftButton);
    EXPECT_EQ(desktop.shell().opened, std::vector<std::string>{"http://svc:2/"});
}

TEST_F(MainFormTest, DontBringToFrontChangesOnlyItsMark) {
    stub = std::make_unique<LoopbackServer>(
        [](const RecordedRequest&) { return LoopbackServer::Ok("toobig"); });
    UseHost(stub->Host());
    ui().DontBringToFrontCheckbox->click();
    EXPECT_TRUE(ui().DontBringToFrontCheckbox->isChecked());
    CaptureAndWait();
    EXPECT_FALSE(desktop.windows().broughtToFront.empty());
}

} // namespace
} // namespace glimmerly
