// Picture files dropped onto the main window, offscreen: the drop reaches the window's controls,
// its editor, its save dialog and its error display. Which files are taken and what goes up is
// tested on the drop intake itself.

#include "editor/image_editor_form.h"
#include "main_form_fixture.h"
#include "tests/app/command_test.h"
#include "tests/support/guarded_fifo.h"

#include "ui_main_form.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <filesystem>

namespace glimmerly {
namespace {

class DropTest : public MainFormTest {
protected:
    // A picture file `name` in the folder (see WriteSmoothPicture).
    QString Write(const QString& name, int width, int height, const char* format = nullptr) {
        const QString path = folder.filePath(name);
        testing::WriteSmoothPicture(path, width, height, format);
        return path;
    }

    // The files are dropped on the armed window; the drop is handled once the event loop turns.
    void Drop(const QStringList& paths) {
        std::vector<std::string> dropped;
        for (const QString& p : paths)
            dropped.push_back(testing::ProgramPath(p));
        // Handed on from the event loop, as the window system's drops are.
        bool armed = false;
        QTimer::singleShot(0, form.get(), [&] { armed = desktop.fileDrops().Drop(dropped); });
        QApplication::processEvents();
        ASSERT_TRUE(armed);
    }

    // Drops and waits for the job's end (the file was taken once the status line says so).
    void DropAndWait(const QString& path) {
        const std::size_t before = form->Statuses().size();
        Drop({path});
        ASSERT_GT(form->Statuses().size(), before);
        ASSERT_SOON(state.CaptureReady);
    }

    Picture Uploaded(std::size_t request) {
        return testing::UploadedPicture(stub->Requests().at(request).body);
    }

    std::string RenameText() { return ui().RenameEdit->text().toStdString(); }

    QTemporaryDir folder;
};

TEST_F(DropTest, ADroppedFileTakesThePlaceOfACapture) {
    StartService();
    DropAndWait(Write("Urlaub am See.jpg", 120, 90, "JPG"));
    EXPECT_EQ(form->Statuses().front(), "Screenshot wird bearbeitet...");
    EXPECT_EQ(RenameText(), "urlaub_am_see");
    EXPECT_EQ(ui().Notebook1->currentIndex(), 1);
    EXPECT_TRUE(ui().RenameEdit->hasFocus());
    EXPECT_EQ(ui().DisplayURLEdit->text(), "http://localhost:8460/abc.jpg");
    ASSERT_EQ(stub->Requests().size(), 1u);
    const Picture up = Uploaded(0);
    EXPECT_EQ(std::make_pair(up.width, up.height), std::make_pair(120, 90));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(OptionsEnabled());
}

TEST_F(DropTest, SavingLocallyShowsTheNamePageAndAsksForTheFile) {
    StartService();
    ui().SaveLocalCheckBox->setChecked(true);
    const QString target = folder.filePath("gespeichert.jpg");
    int asked = 0;
    desktop.dialogs().saveAs = [&]() -> std::optional<std::string> {
        ++asked;
        EXPECT_EQ(ui().Notebook1->currentIndex(), 1);
        EXPECT_TRUE(ui().ProgressBar1->isVisible());
        EXPECT_TRUE(ui().RenameEdit->hasFocus());
        return testing::ProgramPath(target);
    };
    DropAndWait(Write("karte.bmp", 40, 20, "BMP"));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(ui().Notebook1->currentIndex(), 1);
    EXPECT_EQ(RenameText(), "karte");
    EXPECT_TRUE(stub->Requests().empty());
    const QImage saved(target);
    EXPECT_EQ(saved.size(), QSize(40, 20));
}

TEST_F(DropTest, TheEditorOpensOnTheWholePictureAndTheCheckBoxIsUntickedAfterwards) {
    StartService();
    ImageEditorForm editor;
    form->SetDialogs(nullptr, &editor);
    ui().EditCheckBox->setChecked(true);
    for (const bool tickedBefore : {false, true}) {
        ui().ActiveWindowCheckBox->setChecked(tickedBefore);
        bool tickedInEditor = false;
        QTimer::singleShot(100, [&] {
            tickedInEditor = ui().ActiveWindowCheckBox->isChecked();
            editor.reject();
        });
        DropAndWait(Write("foto.jpg", 90, 70, "JPG"));
        EXPECT_TRUE(tickedInEditor);
        EXPECT_FALSE(ui().ActiveWindowCheckBox->isChecked());
    }
    ASSERT_EQ(stub->Requests().size(), 2u);
    const Picture up = Uploaded(1); // the whole picture, not a monitor's part
    EXPECT_EQ(std::make_pair(up.width, up.height), std::make_pair(90, 70));
}

// The close disarms the window: a drop that comes after it starts nothing.
TEST_F(DropTest, AClosedWindowTakesNoDrops) {
    StartService();
    const std::string path = testing::ProgramPath(Write("spaet.bmp", 16, 16, "BMP"));
    form->close();
    EXPECT_FALSE(desktop.fileDrops().Drop({path}));
    QApplication::processEvents();
    EXPECT_TRUE(stub->Requests().empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(DropTest, AFileThatCannotBeReadShowsOneErrorAndReArms) {
    StartService();
    QFile damaged(Write("kaputt.jpg", 100, 100, "JPG"));
    ASSERT_TRUE(damaged.resize(300));
    Drop({damaged.fileName()});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("error: ", 0), 0u);
    EXPECT_TRUE(state.CaptureReady);
    EXPECT_TRUE(OptionsEnabled());
    EXPECT_TRUE(stub->Requests().empty());
}

TEST_F(DropTest, ANamedPipeIsRefusedWithoutWaitingForAWriter) {
    StartService();
    // A pipe named like a picture, and a link to one: the window must not wait in open() or
    // read() for somebody to write.
    const std::string folderPath = QFile::encodeName(folder.path()).toStdString();
    testing::GuardedFifo pipe(folderPath + "/x.jpg");
    testing::GuardedFifo linked(folderPath + "/ziel.bmp");
    std::filesystem::create_symlink(linked.Path(), folderPath + "/verweis.bmp");
    for (const char* name : {"x.jpg", "verweis.bmp"}) {
        messages.clear();
        Drop({folder.filePath(name)});
        ASSERT_EQ(messages.size(), 1u) << name;
        EXPECT_NE(messages[0].find("keine gewöhnliche Datei"), std::string::npos) << messages[0];
        EXPECT_TRUE(state.CaptureReady);
        EXPECT_TRUE(OptionsEnabled());
    }
    EXPECT_FALSE(pipe.WriterWasNeeded());
    EXPECT_FALSE(linked.WriterWasNeeded());
    EXPECT_TRUE(stub->Requests().empty());
}

} // namespace
} // namespace glimmerly
