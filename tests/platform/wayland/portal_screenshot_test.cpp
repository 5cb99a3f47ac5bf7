// The portal's Screenshot call against a stand-in portal, a real process on a private session
// bus: what becomes of the file an answer names after a success, a refusal and an answer that
// comes after the program gave up.

#include "platform/wayland/portal_screenshot.h"

#include "tests/support/temp_dir.h"
#include "text/cp1252.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QImage>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace glimmerly::platform::wayland {
namespace {

namespace fs = std::filesystem;

std::string Content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class PortalScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("GLIMMERLY_TEST_BUS"))
            GTEST_SKIP() << "no private session bus (dbus-daemon missing)";
        portal_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        portal_.start("/usr/bin/python3",
                      {GLIMMERLY_FAKE_PORTAL, QString::fromStdString(dir_.Path("scenario"))});
        QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
        for (int i = 0; i < 400 && !bus->isServiceRegistered(kPortal); ++i) {
            if (portal_.state() == QProcess::NotRunning)
                GTEST_SKIP() << "the stand-in portal does not run (python3-dbus missing?)";
            QThread::msleep(25);
        }
        ASSERT_TRUE(bus->isServiceRegistered(kPortal));
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(QColor(200, 40, 40));
        ASSERT_TRUE(picture.save(QString::fromStdString(shot_), "PNG"));
    }
    void TearDown() override {
        portal_.kill();
        portal_.waitForFinished();
    }

    // The next answer: `code` after `delayMs`, naming `target`, which is first copied from
    // `source` unless that is empty.
    void Answer(unsigned code, int delayMs, const std::string& target, const std::string& source) {
        std::ofstream(dir_.Path("scenario"))
            << code << ' ' << delayMs << ' ' << target << ' ' << (source.empty() ? "-" : source);
    }
    // How many answers the portal has sent.
    long Sent() {
        std::ifstream in(dir_.Path("scenario.sent"));
        return std::count(std::istreambuf_iterator<char>(in), {}, '\n');
    }
    // The German text of the failure of Take.
    std::string Failure(PortalScreenshot& portal, int timeoutMs) {
        try {
            portal.Take(timeoutMs);
        } catch (const std::runtime_error& e) {
            return cp1252::ToUtf8(e.what());
        }
        return "no failure";
    }

    const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
    glimmerly::testing::TempDir dir_{"glimmerly-portal-bus"};
    const std::string shot_ = dir_.Path("source.png");
    const std::string precious_ = dir_.Write("precious.png", "mein Bild");
    QProcess portal_;
};

TEST_F(PortalScreenshotTest, TheAnsweredFileBecomesThePictureAndGoes) {
    const std::string out = dir_.Path("out.png");
    Answer(0, 20, out, shot_);
    PortalScreenshot portal;
    const Picture picture = portal.Take(20000);
    EXPECT_EQ(std::make_pair(picture.width, picture.height), std::make_pair(40, 30));
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(PortalScreenshotTest, ARefusalLeavesTheNamedFileAlone) {
    Answer(2, 20, precious_, "");
    PortalScreenshot portal;
    EXPECT_EQ(
        Failure(portal, 20000),
        "Bildschirmfoto über den Desktop-Dienst fehlgeschlagen: der Desktop hat es abgelehnt");
    EXPECT_EQ(Content(precious_), "mein Bild");
}

TEST_F(PortalScreenshotTest, AnAnswerAfterGivingUpTouchesNoFile) {
    PortalScreenshot portal;
    Answer(0, 1500, precious_, "");
    EXPECT_EQ(Failure(portal, 200),
              "Bildschirmfoto über den Desktop-Dienst fehlgeschlagen: keine Antwort");
    // The late answer reaches the program while its events are handled ...
    for (int i = 0; i < 800 && Sent() < 1; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(25);
    }
    ASSERT_EQ(Sent(), 1);
    // ... and at the latest before the next answer, which comes after it on the same bus.
    const std::string out = dir_.Path("out.png");
    Answer(0, 20, out, shot_);
    EXPECT_EQ(portal.Take(20000).width, 40);
    EXPECT_EQ(Content(precious_), "mein Bild");
}

} // namespace
} // namespace glimmerly::platform::wayland

// The tests get a session bus of their own, so that they meet no desktop's portal.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    QProcess daemon;
    if (!::testing::GTEST_FLAG(list_tests))
        daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (daemon.state() != QProcess::NotRunning && daemon.waitForReadyRead(20000)) {
        const QByteArray address = daemon.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        qputenv("GLIMMERLY_TEST_BUS", "1");
    }
    const int result = RUN_ALL_TESTS();
    daemon.kill();
    daemon.waitForFinished();
    return result;
}
