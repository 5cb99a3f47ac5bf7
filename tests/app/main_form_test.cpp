// The main window with a scripted desktop and a loopback upload host.

#include "tests/app/command_test.h"
#include "tests/app/main_form_fixture.h"

// Named here so that the test target generates it (the fixture header uses it too).
#include "net/http_client.h"
#include "ui_main_form.h"

#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QToolTip>

#include <chrono>

namespace glimmerly {
namespace {

TEST_F(MainFormTest, CreationRegistersHotKeysAndShowResets) {
    EXPECT_TRUE(desktop.hotKeys().IsRegistered(kHotKeyPrint));
    EXPECT_TRUE(desktop.hotKeys().IsRegistered(kHotKeyCtrlEnd));
    // A stalled server fails a request instead of wedging the program.
    EXPECT_EQ(form->IdHTTP1().IdleTimeout(), kIdleTimeoutMs);
    EXPECT_EQ(desktop.hotKeys().registered[kHotKeyPrint],
              std::make_pair(platform::Key::Print, unsigned{platform::NoModifier}));
    EXPECT_EQ(desktop.hotKeys().registered[kHotKeyCtrlEnd],
              std::make_pair(platform::Key::End, unsigned{platform::Control}));

    ui().Notebook1->setCurrentIndex(1);
    ui().Label1->setText("x");
    ui().RenameEdit->setText("x");
    ui().DisplayURLEdit->setText("x");
    ui().RenameButton->hide();
    ui().ProgressBar1->setValue(40);
    form->setWindowTitle("other");
    state.NewScreenshotName = "pending";
    form->IdHTTP1WorkBegin(1, 9);
    state.CaptureReady = false;
    form->FormShow();
    EXPECT_EQ(form->windowTitle(), "Glimmerly 3.2");
    EXPECT_TRUE(state.CaptureReady);
    EXPECT_EQ(state.NewScreenshotName, "");
    form->IdHTTP1Work(1, 9); // the last body's size is forgotten: no progress to show
    EXPECT_EQ(ui().ProgressBar1->value(), 0);
    EXPECT_EQ(ui().Notebook1->currentIndex(), 0);
    EXPECT_EQ(ui().Label1->text(), "");
    EXPECT_EQ(ui().ProgressBar1->value(), 0);
    EXPECT_TRUE(ui().ProgressBar1->isVisible());
    EXPECT_EQ(ui().RenameEdit->text(), "");
    EXPECT_EQ(ui().DisplayURLEdit->text(), "");
    EXPECT_FALSE(ui().RenameButton->isHidden());
    EXPECT_EQ(desktop.fileDrops().armed, static_cast<std::uintptr_t>(form->internalWinId()));
    EXPECT_EQ(form->pos(), QPoint(411, 239));
    const QSize size = form->size(); // a fixed border: the window keeps its size
    form->resize(size + QSize(100, 60));
    EXPECT_EQ(form->size(), size);
}

// What the user meets at start: the instruction, the options in their first states with their
// hints on hover, and an address field that can be copied from but not typed into.
TEST_F(MainFormTest, StartShowsTheInstructionTheChoicesAndTheirHints) {
    ASSERT_TRUE(ui().Label2->isVisible());
    EXPECT_EQ(ui().Label2->text(), Q("Zum Auslösen des Bildschirm-Fotos Druck-Taste drücken!"));
    EXPECT_TRUE(ui().ActiveWindowCheckBox->isChecked());
    EXPECT_FALSE(ui().EditCheckBox->isChecked());
    EXPECT_FALSE(ui().SaveLocalCheckBox->isChecked());
    EXPECT_FALSE(ui().SessionModeCheckBox->isChecked());
    EXPECT_FALSE(ui().Panel1->isVisible());
    EXPECT_FALSE(ui().SessionUrlPanel->isVisible());

    int hinted = 0;
    for (QWidget* control : form->findChildren<QWidget*>()) {
        if (control->toolTip().isEmpty() || !control->isVisible())
            continue;
        QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), control->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(control, &hover);
        EXPECT_EQ(QToolTip::text(), control->toolTip()) << control->objectName().toStdString();
        QToolTip::hideText();
        ++hinted;
    }
    EXPECT_EQ(hinted, 5); // the four options below the pages and "Erweitert"
    EXPECT_EQ(ui().SessionModeCheckBox->toolTip(),
              Q("Mit dem Session-Modus können verschiedenen Zuschauern mehrere Screenshots "
                "hintereinander gezeigt werden"));

    ui().Notebook1->setCurrentIndex(1);
    ui().DisplayURLEdit->setText("http://h/a.jpg");
    ui().DisplayURLEdit->setFocus();
    QTest::keyClicks(ui().DisplayURLEdit, "xy");
    QTest::keyClick(ui().DisplayURLEdit, Qt::Key_Backspace);
    EXPECT_EQ(ui().DisplayURLEdit->text(), "http://h/a.jpg");
}

TEST_F(MainFormTest, ProgressRoundsHalvesToEven) {
    form->IdHTTP1WorkBegin(1, 8);
    form->IdHTTP1Work(1, 1);
    EXPECT_EQ(ui().ProgressBar1->value(), 12);
    form->IdHTTP1Work(1, 3);
    EXPECT_EQ(ui().ProgressBar1->value(), 38);
    form->IdHTTP1Work(1, 8);
    EXPECT_EQ(ui().ProgressBar1->value(), 100);
    form->IdHTTP1Work(0, 1); // reading is ignored
    EXPECT_EQ(ui().ProgressBar1->value(), 100);
    form->IdHTTP1WorkBegin(0, 2); // reading announces no size either
    form->IdHTTP1Work(1, 4);
    EXPECT_EQ(ui().ProgressBar1->value(), 50);
    form->IdHTTP1WorkEnd(1);
    EXPECT_EQ(ui().Label1->text(), "Warte auf Antwort vom Server...");
}

TEST_F(MainFormTest, LockOptionsKeepsLoginDisabledInASession) {
    form->LockOptions(true);
    EXPECT_FALSE(OptionsEnabled());
    EXPECT_FALSE(ui().LoginSessionButton->isEnabled());
    form->LockOptions(false);
    EXPECT_TRUE(OptionsEnabled());
    EXPECT_TRUE(ui().LoginSessionButton->isEnabled());
    state.SessionName = "demo";
    form->LockOptions(false);
    EXPECT_TRUE(OptionsEnabled());
    EXPECT_FALSE(ui().LoginSessionButton->isEnabled());
}

TEST_F(MainFormTest, HotKeyIdsOtherThanTheThreeAreIgnored) {
    UploadHostAnswers("ok|3.2|http://h/a.jpg");
    form->WMHotKey(104);
    EXPECT_TRUE(state.CaptureReady);
    EXPECT_TRUE(desktop.screen().grabs.empty());
    form->WMHotKey(kHotKeyOther);
    EXPECT_EQ(desktop.screen().grabs.size(), 1u);
    ASSERT_SOON(state.CaptureReady);
}

TEST_F(MainFormTest, OkUploadShowsTheAddressAfterTheStatusTexts) {
    UploadHostAnswers("ok|3.2|http://localhost:8460/abc.jpg");
    CaptureAndWait();
    EXPECT_EQ(form->Statuses(),
              (std::vector<std::string>{
                  "Screenshot wird bearbeitet...", "Screenshot wird komprimiert...",
                  "Screenshot wird zum Server übertragen...", "Warte auf Antwort vom Server...",
                  "Screenshot wurde erfolgreich hochgeladen."}));
    EXPECT_EQ(ui().DisplayURLEdit->text(), "http://localhost:8460/abc.jpg");
    EXPECT_EQ(ui().Notebook1->currentIndex(), 1);
    EXPECT_EQ(ui().RenameEdit->text(), "editor");
    EXPECT_EQ(state.ProposedName, "editor");
    EXPECT_TRUE(state.UploadDone);
    EXPECT_TRUE(OptionsEnabled());
    EXPECT_EQ(ui().ProgressBar1->value(), 100);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(desktop.windows().broughtToFront.empty());
    EXPECT_FALSE(desktop.files().Exists(desktop.files().folder() + "screen.jpg"));

    // The picture is the foreground window's area of the screen.
    const auto requests = stub->Requests();
    ASSERT_EQ(requests.size(), 1u);
    const Picture sent = testing::UploadedPicture(requests[0].body);
    EXPECT_EQ(sent.width, 800);
    EXPECT_EQ(sent.height, 600);
}

// Counts the paints of the main window's widgets.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* window) : window_(window) { qApp->installEventFilter(this); }
    ~PaintCounter() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->window() == window_)
            ++paints;
        return false;
    }
    int paints = 0;

private:
    QWidget* window_;
};

// A screen that notes how often the window had painted when it was grabbed.
class PaintNotingScreen : public platform::Screen {
public:
    PaintNotingScreen(std::unique_ptr<platform::Screen> inner, QWidget* window)
        : inner_(std::move(inner)), counter(window) {}
    std::vector<platform::Monitor> Monitors() override { return inner_->Monitors(); }
    Picture Grab(const Rect& band) override {
        paintsAtGrab.push_back(counter.paints);
        return inner_->Grab(band);
    }

private:
    std::unique_ptr<platform::Screen> inner_;

public:
    PaintCounter counter;
    std::vector<int> paintsAtGrab;
};

// The window is grabbed as the user saw it when pressing Print (its last address, the full
// progress bar): the reset before the capture is painted with the capture's first status text,
// after the grab, not before it.
TEST_F(MainFormTest, TheScreenIsGrabbedBeforeTheWindowPaintsItsReset) {
    UploadHostAnswers("ok|3.2|http://localhost:8460/abc.jpg");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    CaptureAndWait();
    ASSERT_EQ(ui().ProgressBar1->value(), 100);
    ASSERT_EQ(ui().Notebook1->currentIndex(), 1);
    QTest::qWait(50); // everything of the first upload painted

    auto* screen = new PaintNotingScreen(std::move(platform->screen), form.get());
    platform->screen.reset(screen);
    CaptureAndWait();
    EXPECT_EQ(screen->paintsAtGrab, std::vector<int>{0});
    EXPECT_GT(screen->counter.paints, 0); // painted afterwards all the same
    EXPECT_EQ(form->Statuses().back(), "Screenshot wurde erfolgreich hochgeladen.");
}

TEST_F(MainFormTest, SecondPrintWhileBusyIsDropped) {
    stub = std::make_unique<LoopbackServer>(
        [](const RecordedRequest&) { return std::string(); }); // stall
    UseHost(stub->Host());
    ASSERT_TRUE(desktop.hotKeys().Press(kHotKeyPrint));
    // The job reaches the window through its event loop: keep it turning while waiting.
    ASSERT_SOON(stub->Requests().size() == 1);
    EXPECT_FALSE(OptionsEnabled());
    ASSERT_TRUE(desktop.hotKeys().Press(kHotKeyPrint));
    ASSERT_TRUE(desktop.hotKeys().Press(kHotKeyCtrlEnd));
    EXPECT_EQ(desktop.screen().grabs.size(), 1u);
    stub->Release(); // the connection closes without an answer
    ASSERT_SOON(state.CaptureReady);
    EXPECT_EQ(desktop.screen().grabs.size(), 1u); // nothing was queued
}

TEST_F(MainFormTest, OtherReplyInAMessageBox) {
    UploadHostAnswers("Fehler 42");
    CaptureAndWait();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Beim Hochladen ist folgender Fehler aufgetreten: Fehler 42");
}

TEST_F(MainFormTest, NewVersionNotice) {
    UploadHostAnswers("ok|3.3|http://h/a.jpg");
    CaptureAndWait();
    EXPECT_EQ(ui().Label4->text(), Q("Neue Version verfügbar: 3.3"));
    EXPECT_EQ(ui().Label5->text(),
              QString::fromStdString("http://" + stub->Host() + "/download.htm"));
    EXPECT_EQ(ui().Label5->palette().color(ui().Label5->foregroundRole()), QColor(255, 0, 0));
    QTest::mouseClick(ui().Label5, Qt::LeftButton);
    ASSERT_EQ(desktop.shell().opened.size(), 1u);
    EXPECT_EQ(desktop.shell().opened[0], "http://" + stub->Host() + "/download.htm");
}

// Nothing of a text is taken for markup when the label's room covers every character of it.
bool ShownWordForWord(const QLabel& label) {
    return label.sizeHint().width() >= label.fontMetrics().horizontalAdvance(label.text());
}

TEST_F(MainFormTest, ServerTextsAreShownWordForWordNeverAsMarkup) {
    const std::string markup = "<b>4.0</b> &amp; <img src=\"x.png\">";
    UploadHostAnswers("ok|" + markup + "|http://h/a.jpg");
    CaptureAndWait();
    EXPECT_EQ(ui().Label4->text(), Q("Neue Version verfügbar: ") + QString::fromStdString(markup));
    EXPECT_TRUE(ShownWordForWord(*ui().Label4));
    form->ShowStatus("<b>Warning</b>: move_uploaded_file() failed &amp; <br />");
    EXPECT_TRUE(ShownWordForWord(*ui().Label1));

    // The real message box, as the server's error text or a rename reply reaches it.
    const MessageBoxSink testSink = SetMessageBoxSink(nullptr);
    QString shown;
    bool plain = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        ASSERT_NE(label, nullptr);
        shown = label->text();
        plain = ShownWordForWord(*label);
        box->accept();
    });
    ShowMessageBox(markup);
    SetMessageBoxSink(testSink);
    EXPECT_EQ(shown, QString::fromStdString(markup));
    EXPECT_TRUE(plain);
}

TEST_F(MainFormTest, FailedUploadReArmsAndSaysWhat) {
    UseHost("127.0.0.1:1"); // nobody listens
    CaptureAndWait();
    EXPECT_EQ(ui().Label1->text(),
              "Hochladen fehlgeschlagen: Socket Error # 10061 Connection refused.");
    EXPECT_TRUE(ui().RenameButton->isHidden()); // nothing on the server to rename
    EXPECT_TRUE(OptionsEnabled());
}

TEST_F(MainFormTest, FailedCaptureReArmsAndShowsTheError) {
    desktop.screen().failGrab = true;
    ASSERT_TRUE(desktop.hotKeys().Press(kHotKeyPrint));
    EXPECT_TRUE(state.CaptureReady);
    EXPECT_TRUE(OptionsEnabled());
    EXPECT_EQ(form->Statuses().back(), "Bildschirmfoto fehlgeschlagen.");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("error: ", 0), 0u);
}

TEST_F(MainFormTest, MissingTempFolderIsACaptureError) {
    desktop.files().failTempDir = true;
    ASSERT_TRUE(desktop.hotKeys().Press(kHotKeyPrint));
    EXPECT_TRUE(state.CaptureReady);
    EXPECT_EQ(ui().Notebook1->currentIndex(), 0); // back to the start, no dead rename button
    EXPECT_TRUE(OptionsEnabled());
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(MainFormTest, LocalSaveStaysOnTheFirstPage) {
    ui().SaveLocalCheckBox->setChecked(true);
    const std::string target = desktop.files().folder() + "bild.jpg";
    int asked = 0;
    desktop.dialogs().saveAs = [&]() -> std::optional<std::string> {
        ++asked;
        return target;
    };
    CaptureAndWait();
    EXPECT_EQ(asked, 1);
    // The dialog belongs to the window.
    EXPECT_EQ(desktop.dialogs().owners,
              std::vector<std::uintptr_t>{static_cast<std::uintptr_t>(form->winId())});
    EXPECT_EQ(ui().Notebook1->currentIndex(), 0);
    EXPECT_EQ(form->Statuses().back(), "Screenshot wurde gespeichert (nicht hochgeladen).");
    EXPECT_TRUE(desktop.files().Exists(target));
}

TEST_F(MainFormTest, ClosingDuringAStalledUploadEndsPromptly) {
    stub = std::make_unique<LoopbackServer>([](const RecordedRequest&) { return std::string(); });
    UseHost(stub->Host());
    ASSERT_TRUE(desktop.hotKeys().Press(kHotKeyPrint));
    // The job reaches the window through its event loop: keep it turning while waiting.
    ASSERT_SOON(stub->Requests().size() == 1);
    const auto start = std::chrono::steady_clock::now();
    form.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(desktop.hotKeys().IsRegistered(kHotKeyPrint));
}

// A capture accepted after the close would show the window again, which keeps the program
// running, and start a job the exit must stop.
TEST_F(MainFormTest, ClosedWindowStartsNoCapture) {
    StartService();
    HoldUploads(true);
    ASSERT_TRUE(desktop.hotKeys().Press(kHotKeyPrint));
    ASSERT_SOON(stub->Requests().size() == 1);
    form->close();
    // The job ends after the close and re-arms the gate on its way out.
    HoldUploads(false);
    ASSERT_SOON(state.UploadThread->Finished());
    QApplication::processEvents();

    // A Print and a dropped file that came in the same batch of events as the close.
    desktop.hotKeys().Press(kHotKeyPrint);
    form->WMHotKey(kHotKeyCtrlEnd);
    const std::size_t fronts = desktop.windows().broughtToFront.size();
    EXPECT_NO_THROW(form->WMDropFiles({"/nonexistent/dropped.jpg"}));
    EXPECT_EQ(desktop.screen().grabs.size(), 1u);
    EXPECT_EQ(desktop.windows().broughtToFront.size(), fronts);
    EXPECT_EQ(stub->Requests().size(), 1u);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainFormTest, EscapeClosesTheWindowFromAnyControl) {
    ui().Notebook1->setCurrentIndex(1);
    ui().RenameEdit->setFocus();
    QTest::keyClick(ui().RenameEdit, Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(MainFormTest, HotKeyHeldElsewhereIsReported) {
    form.reset();
    testing::FakePlatform other;
    other.hotKeys().HeldElsewhere(platform::Key::Print, platform::NoModifier);
    auto parts = other.MakePlatform();
    const auto window = MakeForm(*parts);
    window->show();
    EXPECT_EQ(window->MissingHotKeys(), std::vector<int>{kHotKeyPrint});
    ASSERT_SOON(window->Controls().Label1->text() ==
                Q("Die Druck-Taste ist belegt – bitte Strg+Ende verwenden."));
}

TEST_F(MainFormTest, DesktopNoticesTakeTheStatusLineInTurn) {
    form.reset();
    testing::FakePlatform other;
    auto parts = other.MakePlatform();
    parts->notices->Post(cp1252::FromUtf8("Erste Meldung – vom Desktop"));
    parts->notices->Post("Zweite Meldung");
    const auto window = MakeForm(*parts);
    window->show();
    ASSERT_SOON(window->Controls().Label1->text() == Q("Erste Meldung – vom Desktop"));
    ASSERT_SOON(window->Controls().Label1->text() == Q("Zweite Meldung"));
    EXPECT_TRUE(window->MissingHotKeys().empty());

    // Work that takes the line over ends the turns: a notice waiting then is dropped.
    parts->notices->Post("Dritte Meldung");
    parts->notices->Post("Vierte Meldung");
    ASSERT_SOON(window->Controls().Label1->text() == Q("Dritte Meldung"));
    window->Controls().Label1->setText(Q("Screenshot wird bearbeitet..."));
    QTest::qWait(5500);
    EXPECT_EQ(window->Controls().Label1->text(), Q("Screenshot wird bearbeitet..."));
}

TEST(ErrorDisplay, AddsAFullStopAfterLettersOnly) {
    EXPECT_EQ(ErrorDisplayText("Read Timeout"), "Read Timeout.");
    EXPECT_EQ(ErrorDisplayText("Fertig."), "Fertig.");
    EXPECT_EQ(ErrorDisplayText("Achtung!"), "Achtung!");
    EXPECT_EQ(ErrorDisplayText(""), "");
    EXPECT_EQ(ErrorDisplayText("Socket Error # 10061\r\nConnection refused."),
              "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(ErrorDisplayText("Code 404"), "Code 404.");
}

} // namespace
} // namespace glimmerly
