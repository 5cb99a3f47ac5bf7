// Dropped picture files without the window: which paths are taken, what is uploaded under which
// name, and how a drop meets a file that cannot be read, a running job and the editor.

#include "app/capture_intake.h"
#include "app/drop_intake.h"
#include "editor/picture_editor.h"
#include "tests/app/command_test.h"

#include <QFile>
#include <QTemporaryDir>

#include <stdexcept>

namespace glimmerly {
namespace {

using testing::UploadedPicture;
using Calls = std::vector<std::string>;

// Hands the picture back untouched, with all of it to keep; or fails.
class WholeEditor : public PictureEditor {
public:
    EditorResult Edit(Picture picture, bool wholePicture,
                      const std::vector<platform::Monitor>& monitors) override {
        opened.push_back(wholePicture && monitors.empty() ? "whole" : "overview");
        if (fail)
            throw std::runtime_error("Editor kaputt");
        const Rect all{0, 0, picture.width, picture.height};
        return {std::move(picture), all};
    }
    Calls opened;
    bool fail = false;
};

class DropIntakeTest : public testing::CommandTest {
protected:
    void SetUp() override {
        intake.SetEditor(&editor);
        state.CaptureReady = true;
    }
    // A picture file `name` in the folder; its path in the file system's encoding.
    std::string Write(const QString& name, int width, int height, const char* format) {
        const QString path = folder.filePath(name);
        testing::WriteSmoothPicture(path, width, height, format);
        return testing::ProgramPath(path);
    }
    // Drops the files and waits for the job's end, which makes the program ready again.
    std::string DropAndWait(const Calls& paths) {
        job.Reset();
        drop.WMDropFiles(paths);
        const std::string end = job.Wait();
        state.CaptureReady = true;
        return end;
    }

    QTemporaryDir folder;
    testing::JobEnd job;
    WholeEditor editor;
    CaptureIntake intake{state, *platform, http, hosts, gate, window, job};
    DropIntake drop{state, gate, intake, window};
};

TEST_F(DropIntakeTest, JpegAndBmpFilesGoUpWithTheirNamesAndSizes) {
    struct Case {
        QString file;
        const char* format;
        int width, height;
        std::string name;
    };
    const QString deep = QString("ordner_mit_langem_namen_").repeated(4) + "/";
    const Case cases[] = {{"Urlaub am See.jpg", "JPG", 120, 90, "urlaub_am_see"},
                          {"FOTO.JPG", "JPG", 64, 40, "foto"},
                          {"Plan.bmp", "BMP", 77, 33, "plan"},
                          {deep + deep + deep + "ziel.bmp", "BMP", 12, 9, "ziel"}};
    std::size_t request = 0;
    for (const Case& c : cases) {
        state.ProposedName = "vorher";
        ASSERT_EQ(DropAndWait({Write(c.file, c.width, c.height, c.format)}), "http://h/a.jpg");
        EXPECT_EQ(window.Take(), (Calls{"lock", "name " + c.name,
                                        "status Screenshot wird bearbeitet...", "name page"}));
        EXPECT_EQ(state.ProposedName, "");
        ASSERT_EQ(server.Requests().size(), request + 1);
        const Picture up = UploadedPicture(server.Requests()[request++].body);
        EXPECT_EQ(std::make_pair(up.width, up.height), std::make_pair(c.width, c.height));
        const std::uint8_t* px = up.At(c.width / 2, c.height / 3);
        EXPECT_NEAR(px[0], 128, 6);
        EXPECT_NEAR(px[1], c.height / 3 * 3 % 256, 6);
        EXPECT_NEAR(px[2], c.width / 2 * 2 % 256, 6);
    }
}

TEST_F(DropIntakeTest, OtherExtensionsAndDotsBeforeTheNameAreIgnoredSilently) {
    for (const char* name : {"scan.jpeg", "bild.png", "Daten.alt/bild.jpg", "archiv.2009.jpg"}) {
        drop.WMDropFiles({Write(name, 20, 20, "JPG")});
        EXPECT_EQ(window.Take(), Calls{}) << name;
        EXPECT_TRUE(state.CaptureReady);
    }
    drop.WMDropFiles({});
    EXPECT_EQ(window.Take(), Calls{});
    EXPECT_EQ(state.UploadThread, nullptr);
}

// The name comes from the file-name part; which characters end a folder's name is the system's.
TEST(DropNameSource, TheFileNameEndsAtTheSystemsFolderSeparators) {
#ifdef _WIN32
    EXPECT_EQ(DropNameSource("D:\\Bilder\\Urlaub am See.jpg"), "Urlaub am See");
    EXPECT_EQ(DropNameSource("D:Plan.bmp"), "Plan");
    EXPECT_EQ(DropNameSource("//server/freigabe/Karte.jpg"), "Karte");
#else
    EXPECT_EQ(DropNameSource("/home/anna/Bilder\\Urlaub am See.jpg"), "Bilder\\Urlaub am See");
    EXPECT_EQ(DropNameSource("/home/anna/D:Plan.bmp"), "D:Plan");
#endif
    EXPECT_EQ(DropNameSource("Foto.jpg"), "Foto");
}

TEST_F(DropIntakeTest, OfThreeFilesOnlyTheFirstCounts) {
    DropAndWait({Write("erste.bmp", 50, 30, "BMP"), Write("zweite.jpg", 60, 60, "JPG"),
                 Write("dritte.bmp", 10, 10, "BMP")});
    EXPECT_EQ(window.Take().at(1), "name erste");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(UploadedPicture(server.Requests()[0].body).width, 50);
}

TEST_F(DropIntakeTest, SavingLocallyStillShowsTheNamePage) {
    window.options.saveLocally = true;
    EXPECT_EQ(DropAndWait({Write("karte.bmp", 40, 20, "BMP")}), "finished"); // dialog cancelled
    EXPECT_EQ(window.Take().back(), "name page");
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(DropIntakeTest, TheEditorOpensOnTheWholePictureWithTheBoxTickedMeanwhile) {
    window.options.editAfterwards = true;
    DropAndWait({Write("foto.jpg", 90, 70, "JPG")});
    EXPECT_EQ(editor.opened, Calls{"whole"});
    EXPECT_EQ(window.Take(), (Calls{"lock", "name foto", "status Screenshot wird bearbeitet...",
                                    "tick active window", "name page", "untick active window"}));
    const Picture up = UploadedPicture(server.Requests().at(0).body);
    EXPECT_EQ(std::make_pair(up.width, up.height), std::make_pair(90, 70));

    // However the editor ends, the box is unticked and the program ready again.
    editor.fail = true;
    EXPECT_THROW(drop.WMDropFiles({Write("foto.jpg", 90, 70, "JPG")}), std::runtime_error);
    const Calls calls = window.Take();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(Calls(calls.end() - 2, calls.end()), (Calls{"untick active window", "unlock"}));
    EXPECT_TRUE(state.CaptureReady);
}

TEST_F(DropIntakeTest, AFileThatCannotBeReadIsAnErrorAndNoJobStarts) {
    const std::string damaged = Write("kaputt.jpg", 100, 100, "JPG");
    ASSERT_TRUE(QFile::resize(QString::fromStdString(damaged), 300));
    QFile notAPicture(folder.filePath("text.bmp"));
    ASSERT_TRUE(notAPicture.open(QIODevice::WriteOnly));
    notAPicture.write("BM but nothing else");
    notAPicture.close();
    // A picture that claims 65000 x 65000 pixels in its header.
    const std::string huge = Write("riesig.jpg", 16, 16, "JPG");
    QFile hugeFile(QString::fromStdString(huge));
    ASSERT_TRUE(hugeFile.open(QIODevice::ReadWrite));
    QByteArray bytes = hugeFile.readAll();
    const qsizetype frame = bytes.indexOf("\xFF\xC0");
    ASSERT_GT(frame, 0);
    bytes.replace(frame + 5, 4, QByteArray("\xFD\xE8\xFD\xE8", 4));
    hugeFile.seek(0);
    hugeFile.write(bytes);
    hugeFile.close();
    const std::string folderPath = folder.path().toStdString();
    QDir().mkpath(folder.filePath("ordner.bmp"));

    for (const std::string& path : {damaged, notAPicture.fileName().toStdString(), huge,
                                    folderPath + "/fehlt.bmp", folderPath + "/ordner.bmp"}) {
        try {
            drop.WMDropFiles({path});
            ADD_FAILURE() << "no error for " << path;
        } catch (const std::runtime_error& e) {
            if (path == huge) {
                EXPECT_NE(cp1252::ToUtf8(e.what()).find("zu groß"), std::string::npos) << e.what();
            }
        }
        EXPECT_EQ(window.Take().back(), "unlock") << path;
        EXPECT_TRUE(state.CaptureReady);
    }
    EXPECT_EQ(state.UploadThread, nullptr);
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(DropIntakeTest, ADropWhileBusyIsRefusedOnTheStatusLine) {
    state.CaptureReady = false; // a capture, its job or a rename runs
    drop.WMDropFiles({Write("zweite.jpg", 60, 60, "JPG")});
    EXPECT_EQ(window.Take(),
              Calls{"status Die Datei wurde nicht übernommen – es wird noch ein Screenshot "
                    "bearbeitet."});
    EXPECT_EQ(state.UploadThread, nullptr);
    EXPECT_FALSE(state.CaptureReady);
}

// Pictures the readers refuse for what they would cost are said in German, and no job starts.
TEST_F(DropIntakeTest, RefusedPicturesAreSaidInGerman) {
    // Wider than the encoder takes: before, it was read and the job failed without a word.
    const std::string wide = Write("breit.bmp", 70000, 1, "BMP");
    // A JPEG file whose frame header says arithmetic coding (SOF9 instead of SOF0).
    const std::string arithmetic = Write("arithmetisch.jpg", 32, 32, "JPG");
    QFile file(QString::fromStdString(arithmetic));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    const qsizetype frame = bytes.indexOf("\xFF\xC0");
    ASSERT_GT(frame, 0);
    bytes[frame + 1] = '\xC9';
    file.seek(0);
    file.write(bytes);
    file.close();

    const std::pair<std::string, std::string> cases[] = {
        {wide, "Das BMP-Bild ist zu groß: Breite und Höhe dürfen höchstens 65500 Pixel betragen."},
        {arithmetic, "Arithmetisch kodierte JPEG-Dateien werden nicht unterstützt."}};
    for (const auto& [path, text] : cases) {
        try {
            drop.WMDropFiles({path});
            ADD_FAILURE() << "no error for " << path;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(cp1252::ToUtf8(e.what()), text);
        }
        EXPECT_EQ(window.Take().back(), "unlock") << path;
        EXPECT_TRUE(state.CaptureReady);
    }
    EXPECT_EQ(state.UploadThread, nullptr);
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(DropIntakeTest, ADroppedFileCarriesTheNameOfTheLastRenamedDrop) {
    state.RememberedProposal = "";
    state.RememberedName = "mein_plan";
    DropAndWait({Write("Plan.bmp", 16, 16, "BMP")});
    // After a renamed capture the proposal is that capture's: no name goes up then.
    state.RememberedProposal = "editor";
    DropAndWait({Write("Plan.bmp", 16, 16, "BMP")});
    ASSERT_EQ(server.Requests().size(), 2u);
    const std::string field = "name=\"screenshotname\"\r\n\r\nmein_plan\r\n";
    EXPECT_NE(server.Requests()[0].body.find(field), std::string::npos);
    EXPECT_EQ(server.Requests()[1].body.find("screenshotname"), std::string::npos);
}

} // namespace
} // namespace glimmerly
