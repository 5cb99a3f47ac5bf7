// Picture files dropped onto the main window, offscreen: which paths are taken, what is uploaded,
// and how a drop meets a failed file, a running job, the editor and the local save.

#include "codecs/jpeg_decoder.h"
#include "editor/image_editor_form.h"
#include "main_form_fixture.h"

#include "ui_main_form.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

namespace glimmerly {
namespace {

class DropTest : public MainFormTest {
protected:
    // A smooth picture (small JPEG loss) of the given size, saved as `name` in the folder.
    QString Write(const QString& name, int width, int height, const char* format = nullptr) {
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.setPixel(x, y, qRgb(x * 2 % 256, y * 3 % 256, 128));
        const QString path = folder.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        EXPECT_TRUE(image.save(path, format, 95)) << path.toStdString();
        return path;
    }

    // The drag enters the window and lets go; the drop is handled once the event loop turns.
    void Drop(const QStringList& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& p : paths)
            urls.push_back(QUrl::fromLocalFile(p));
        data.setUrls(urls);
        const QPoint at(200, 40);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &drop);
        QApplication::processEvents();
    }

    // Drops and waits for the job's end (the file was taken once the status line says so).
    void DropAndWait(const QString& path) {
        const std::size_t before = form->Statuses().size();
        Drop({path});
        ASSERT_GT(form->Statuses().size(), before);
        ASSERT_SOON(state.CaptureReady);
    }

    Picture Uploaded(std::size_t request) {
        const std::string body = stub->Requests().at(request).body;
        const std::size_t start = body.find("\r\n\r\n", body.find("name=\"screenshot\"")) + 4;
        const std::size_t end = body.find("\r\n--", start);
        return DecodeJpeg(reinterpret_cast<const std::uint8_t*>(body.data() + start), end - start);
    }

    std::string RenameText() { return ui().RenameEdit->text().toStdString(); }

    QTemporaryDir folder;
};

TEST_F(DropTest, JpegAndBmpFilesAreUploadedWithTheirNamesAndSizes) {
    StartService();
    struct Case {
        QString file;
        const char* format;
        int width, height;
        const char* name;
    };
    const Case cases[] = {{"Urlaub am See.jpg", "JPG", 120, 90, "urlaub_am_see"},
                          {"FOTO.JPG", "JPG", 64, 40, "foto"},
                          {"Plan.bmp", "BMP", 77, 33, "plan"}};
    std::size_t request = 0;
    for (const Case& c : cases) {
        DropAndWait(Write(c.file, c.width, c.height, c.format));
        EXPECT_EQ(RenameText(), c.name);
        EXPECT_EQ(state.ProposedName, "");
        EXPECT_EQ(ui().Notebook1->currentIndex(), 1);
        ASSERT_EQ(stub->Requests().size(), request + 1);
        const Picture up = Uploaded(request++);
        EXPECT_EQ(std::make_pair(up.width, up.height), std::make_pair(c.width, c.height));
        const std::uint8_t* px = up.At(30, 10); // blue 128, green 30, red 60
        EXPECT_NEAR(px[0], 128, 6);
        EXPECT_NEAR(px[1], 30, 6);
        EXPECT_NEAR(px[2], 60, 6);
    }
    EXPECT_EQ(form->Statuses().front(), "Screenshot wird bearbeitet...");
    EXPECT_TRUE(messages.empty());
}

TEST_F(DropTest, ALongPathIsTakenWhole) {
    StartService();
    const QString deep = QString("ordner_mit_langem_namen_").repeated(4) + "/";
    const QString path = Write(deep + deep + deep + "ziel.bmp", 12, 9, "BMP");
    ASSERT_GT(path.size(), 300);
    DropAndWait(path);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(RenameText(), "ziel");
    EXPECT_EQ(stub->Requests().size(), 1u);
}

TEST_F(DropTest, OtherExtensionsAndDotsBeforeTheNameAreIgnoredSilently) {
    StartService();
    ui().RenameEdit->setText("vorher");
    for (const char* name : {"scan.jpeg", "bild.png", "Daten.alt/bild.jpg", "archiv.2009.jpg"}) {
        Drop({Write(name, 20, 20, "JPG")});
        QTest::qWait(50);
        EXPECT_TRUE(state.CaptureReady) << name;
    }
    EXPECT_TRUE(stub->Requests().empty());
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(form->Statuses().empty());
    EXPECT_EQ(RenameText(), "vorher");
    EXPECT_TRUE(OptionsEnabled());
}

TEST_F(DropTest, OfThreeFilesOnlyTheFirstCounts) {
    StartService();
    const QString first = Write("erste.bmp", 50, 30, "BMP");
    Drop({first, Write("zweite.jpg", 60, 60, "JPG"), Write("dritte.bmp", 10, 10, "BMP")});
    ASSERT_SOON(state.CaptureReady);
    QTest::qWait(100);
    ASSERT_EQ(stub->Requests().size(), 1u);
    EXPECT_EQ(Uploaded(0).width, 50);
    EXPECT_EQ(RenameText(), "erste");
}

TEST_F(DropTest, SavingLocallyShowsTheNamePageAndAsksForTheFile) {
    StartService();
    ui().SaveLocalCheckBox->setChecked(true);
    const QString target = folder.filePath("gespeichert.jpg");
    int asked = 0;
    form->SetSaveDialog([&]() -> std::optional<QString> {
        ++asked;
        EXPECT_EQ(ui().Notebook1->currentIndex(), 1);
        EXPECT_TRUE(ui().ProgressBar1->isVisible());
        EXPECT_TRUE(ui().RenameEdit->hasFocus());
        return target;
    });
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

TEST_F(DropTest, AFileThatCannotBeReadShowsOneErrorAndReArms) {
    StartService();
    QFile damaged(Write("kaputt.jpg", 100, 100, "JPG"));
    ASSERT_TRUE(damaged.resize(300));
    QFile notAPicture(folder.filePath("text.bmp"));
    ASSERT_TRUE(notAPicture.open(QIODevice::WriteOnly));
    notAPicture.write("BM but nothing else");
    notAPicture.close();
    // A picture that claims 65000 x 65000 pixels in its header.
    const QString huge = Write("riesig.jpg", 16, 16, "JPG");
    QFile hugeFile(huge);
    ASSERT_TRUE(hugeFile.open(QIODevice::ReadWrite));
    QByteArray bytes = hugeFile.readAll();
    const qsizetype frame = bytes.indexOf("\xFF\xC0");
    ASSERT_GT(frame, 0);
    bytes.replace(frame + 5, 4, QByteArray("\xFD\xE8\xFD\xE8", 4));
    hugeFile.seek(0);
    hugeFile.write(bytes);
    hugeFile.close();
    int shown = 0;
    for (const QString& path : {damaged.fileName(), notAPicture.fileName(), huge,
                                folder.filePath("fehlt.bmp"), folder.path() + "/ordner.bmp"}) {
        if (path.endsWith("ordner.bmp"))
            QDir().mkpath(path);
        Drop({path});
        EXPECT_EQ(messages.size(), static_cast<std::size_t>(++shown)) << path.toStdString();
        EXPECT_EQ(messages.back().rfind("error: ", 0), 0u);
        if (path == huge) {
            EXPECT_NE(messages.back().find("zu groß"), std::string::npos) << messages.back();
        }
        EXPECT_TRUE(state.CaptureReady);
        EXPECT_TRUE(OptionsEnabled());
    }
    EXPECT_FALSE(state.UploadThread);
    EXPECT_TRUE(stub->Requests().empty());
    // Ready for the next one.
    DropAndWait(Write("heil.bmp", 8, 8, "BMP"));
    EXPECT_EQ(stub->Requests().size(), 1u);
}

TEST_F(DropTest, ADropWhileAJobRunsIsRefusedAndTheJobGoesOn) {
    StartService();
    HoldUploads(true);
    Drop({Write("erste.bmp", 50, 30, "BMP")});
    ASSERT_FALSE(state.CaptureReady); // the job waits for the held upload
    Drop({Write("zweite.jpg", 60, 60, "JPG")});
    const std::vector<std::string> statuses = form->Statuses();
    EXPECT_NE(
        std::find(statuses.begin(), statuses.end(),
                  "Die Datei wurde nicht übernommen – es wird noch ein Screenshot bearbeitet."),
        statuses.end());
    EXPECT_EQ(RenameText(), "erste");
    HoldUploads(false);
    ASSERT_SOON(state.CaptureReady);
    QTest::qWait(100);
    ASSERT_EQ(stub->Requests().size(), 1u);
    EXPECT_EQ(Uploaded(0).width, 50);
    EXPECT_TRUE(messages.empty());
}

TEST_F(DropTest, ADroppedFileCarriesTheNameOfTheLastRenamedDrop) {
    StartService();
    state.RememberedProposal = "";
    state.RememberedName = "mein_plan";
    DropAndWait(Write("Plan.bmp", 16, 16, "BMP"));
    // After a renamed capture the proposal is that capture's: no name goes up then.
    state.RememberedProposal = "editor";
    DropAndWait(Write("Plan.bmp", 16, 16, "BMP"));
    ASSERT_EQ(stub->Requests().size(), 2u);
    const std::string field = "name=\"screenshotname\"\r\n\r\nmein_plan\r\n";
    EXPECT_NE(stub->Requests()[0].body.find(field), std::string::npos);
    EXPECT_EQ(stub->Requests()[1].body.find("screenshotname"), std::string::npos);
}

} // namespace
} // namespace glimmerly
