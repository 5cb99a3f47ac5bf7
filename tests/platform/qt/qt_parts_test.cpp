// The toolkit's dialogs and drops on the Linux desktops, offscreen: each dialog belongs to the
// window it is given and answers in the program's terms, and a drop reaches the handler as file
// names once the event loop turns, only while the window is armed.

#include "platform/qt/qt_parts.h"

#include <QApplication>
#include <QColorDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

namespace glimmerly::platform::qt {
namespace {

using Paths = std::vector<std::string>;

class QtPartsTest : public ::testing::Test {
protected:
    QtPartsTest() {
        window_.resize(200, 100);
        window_.show();
    }
    std::uintptr_t Window() { return static_cast<std::uintptr_t>(window_.winId()); }

    // Runs `answer` on the modal dialog as soon as it shows.
    template <typename Dialog> void Answer(std::function<void(Dialog&)> answer) {
        QTimer::singleShot(0, [answer] {
            auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            answer(*dialog);
        });
    }

    QWidget window_;
};

TEST_F(QtPartsTest, TheColourChooserOpensOnTheGivenColourOverItsWindow) {
    QtDialogs dialogs;
    QColor shown;
    QWidget* parent = nullptr;
    Answer<QColorDialog>([&](QColorDialog& dialog) {
        shown = dialog.currentColor();
        parent = dialog.parentWidget();
        dialog.setCurrentColor(QColor(0x40, 0x50, 0x60));
        dialog.accept();
    });
    EXPECT_EQ(dialogs.ChooseColour(Window(), Colour{0x12, 0x80, 0xE0}), (Colour{0x40, 0x50, 0x60}));
    EXPECT_EQ(shown, QColor(0x12, 0x80, 0xE0));
    EXPECT_EQ(parent, &window_);

    Answer<QColorDialog>([](QColorDialog& dialog) { dialog.reject(); });
    EXPECT_FALSE(dialogs.ChooseColour(Window(), Colour{}));
}

TEST_F(QtPartsTest, TheSaveDialogAddsTheExtensionAndGivesTheFileSystemsName) {
    QtDialogs dialogs;
    QTemporaryDir folder;
    QWidget* parent = nullptr;
    Answer<QFileDialog>([&](QFileDialog& dialog) {
        parent = dialog.parentWidget();
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog.nameFilters(), QStringList{QStringLiteral("JPEG-Dateien (*.jpg)")});
        EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
        dialog.selectFile(folder.filePath(QStringLiteral("Bild")));
        QMetaObject::invokeMethod(&dialog, "accept");
    });
    const std::optional<std::string> chosen = dialogs.AskJpegSaveFileName(Window());
    ASSERT_TRUE(chosen);
    EXPECT_EQ(*chosen,
              QFile::encodeName(folder.filePath(QStringLiteral("Bild.jpg"))).toStdString());
    EXPECT_EQ(parent, &window_);

    Answer<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_FALSE(dialogs.AskJpegSaveFileName(Window()));
}

class QtDropsTest : public QtPartsTest {
protected:
    QtDropsTest() {
        drops_.SetHandler([this](const Paths& paths) { dropped_.push_back(paths); });
    }

    // Drags `urls` onto the window and lets go; whether the window took the drag and the drop.
    std::pair<bool, bool> DragAndDrop(const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at(20, 20);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window_, &enter);
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window_, &drop);
        return {enter.isAccepted(), drop.isAccepted()};
    }

    QtFileDrops drops_;
    std::vector<Paths> dropped_;
};

TEST_F(QtDropsTest, TheLocalFilesOfADropArriveAfterTheEventLoopTurns) {
    drops_.Accept(Window(), true);
    EXPECT_TRUE(window_.acceptDrops());
    const QString name = QStringLiteral("/tmp/Ωμέγα bild.jpg");
    const auto [entered, taken] =
        DragAndDrop({QUrl::fromLocalFile(name), QUrl(QStringLiteral("https://example.org/a.jpg")),
                     QUrl::fromLocalFile(QStringLiteral("/tmp/b.bmp"))});
    EXPECT_TRUE(entered);
    EXPECT_TRUE(taken);
    EXPECT_TRUE(dropped_.empty()) << "the drag source is answered first";
    QApplication::processEvents();
    ASSERT_EQ(dropped_.size(), 1u);
    EXPECT_EQ(dropped_[0], (Paths{QFile::encodeName(name).toStdString(), "/tmp/b.bmp"}));
}

TEST_F(QtDropsTest, ADragThatDoesNotStartWithALocalFileIsRefused) {
    drops_.Accept(Window(), true);
    EXPECT_FALSE(DragAndDrop({QUrl(QStringLiteral("https://example.org/a.jpg")),
                              QUrl::fromLocalFile(QStringLiteral("/tmp/b.bmp"))})
                     .first);
    EXPECT_FALSE(DragAndDrop({}).first);
}

TEST_F(QtDropsTest, ADisarmedWindowOrAnEmptiedHandlerTakesNothing) {
    drops_.Accept(Window(), true);
    drops_.Accept(Window(), false);
    EXPECT_FALSE(window_.acceptDrops());
    EXPECT_FALSE(DragAndDrop({QUrl::fromLocalFile(QStringLiteral("/tmp/a.jpg"))}).first);
    QApplication::processEvents();
    EXPECT_TRUE(dropped_.empty());

    // Armed twice, one drop is one call; a drop on its way when the handler goes is dropped.
    drops_.Accept(Window(), true);
    drops_.Accept(Window(), true);
    DragAndDrop({QUrl::fromLocalFile(QStringLiteral("/tmp/a.jpg"))});
    QApplication::processEvents();
    EXPECT_EQ(dropped_.size(), 1u);
    DragAndDrop({QUrl::fromLocalFile(QStringLiteral("/tmp/a.jpg"))});
    drops_.SetHandler({});
    QApplication::processEvents();
    EXPECT_EQ(dropped_.size(), 1u);
}

} // namespace
} // namespace glimmerly::platform::qt
