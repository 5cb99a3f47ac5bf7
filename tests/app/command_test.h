#pragma once
// The main window's commands without the window: stand-ins for the window as the commands and
// the upload job see it, and a fixture with a scripted service and desktop. Every call the window
// gets is recorded in order as a line of UTF-8 text, the message boxes included.

#include "app/capture_gate.h"
#include "app/message_box.h"
#include "app/shared_state.h"
#include "app/window_views.h"
#include "codecs/jpeg_decoder.h"
#include "codecs/jpeg_encoder.h"
#include "imaging/picture.h"
#include "net/http_client.h"
#include "tests/support/fake_platform.h"
#include "tests/support/loopback_server.h"
#include "text/cp1252.h"
#include "upload/server_protocol.h"
#include "upload/upload_view.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace glimmerly::testing {

class StandInWindow : public RenameView, public SessionView, public DropView {
public:
    StandInWindow() {
        previousSink_ = SetMessageBoxSink([this](const QString& text, MessageKind kind) {
            Record((kind == MessageKind::Error ? "error " : "message ") + text.toStdString());
        });
    }
    ~StandInWindow() override { SetMessageBoxSink(previousSink_); }

    // RenameView
    void ShowStatus(const std::string& text) override { Record("status " + U(text)); }
    std::string RenameText() override { return renameText; }
    std::string AddressText() override { return addressText; }
    void ShowAddress(const std::string& address, bool select) override {
        addressText = address;
        Record((select ? "address selected " : "address ") + U(address));
    }
    void SetRenameControlsVisible(bool visible) override {
        Record(visible ? "rename controls shown" : "rename controls hidden");
    }
    void FocusRename() override { Record("focus rename"); }

    // SessionView
    std::optional<std::string> AskSessionName() override {
        Record("ask session");
        if (whileAsking)
            whileAsking();
        return sessionAnswer;
    }
    void SetSessionNameText(const std::string& name) override { Record("session name " + U(name)); }
    void UncheckSessionMode() override {
        Record("uncheck");
        if (onUncheck)
            onUncheck(); // the check box runs its handler again
    }
    void AppendToCaption(const std::string& suffix) override { Record("caption + " + U(suffix)); }
    void ResetCaption() override { Record("caption reset"); }
    bool OpenBrowserTicked() override { return openBrowser; }
    void DisableOpenBrowser() override { Record("open browser disabled"); }
    void ShowSessionAddress(const std::string& address) override {
        Record("session address " + U(address));
    }
    void HideSessionAddress() override { Record("session address hidden"); }
    void BringToFront() override { Record("front"); }

    // DropView
    void LockOptions(bool locked) override { Record(locked ? "lock" : "unlock"); }
    CaptureOptions Options() override { return options; }
    std::string ProposeName(const std::string& name) override {
        Record("name " + U(name));
        return name;
    }
    void ShowNamePage() override { Record("name page"); }
    void TickActiveWindow(bool ticked) override {
        Record(ticked ? "tick active window" : "untick active window");
    }

    // The calls since the last Take(), and forgets them.
    std::vector<std::string> Take() { return std::exchange(calls, {}); }

    std::vector<std::string> calls;
    // What the window's controls hold or answer (Windows-1252).
    std::string renameText;
    std::string addressText;
    std::optional<std::string> sessionAnswer; // nullopt: the dialog is cancelled
    bool openBrowser = false;
    CaptureOptions options;
    std::function<void()> whileAsking;
    std::function<void()> onUncheck;

private:
    static std::string U(const std::string& text) { return cp1252::ToUtf8(text); }
    void Record(std::string call) { calls.push_back(std::move(call)); }

    MessageBoxSink previousSink_;
};

// The upload job's view: how the job ended, waited for from the test's thread.
class JobEnd : public UploadView {
public:
    void ShowStatus(const std::string&) override {}
    void ShowNewVersion(const std::string&) override {}
    void CompleteUpload(const std::string& address, const std::string&) override { End(address); }
    void ShowUploadError(const std::string& text) override { End("error " + text); }
    std::optional<std::string> AskSaveFileName() override {
        if (whileAskingSaveFile)
            whileAskingSaveFile();
        return std::nullopt;
    }
    void FinishJob() override { End("finished"); }
    void FailJob(const std::string& status) override { End("failed " + status); }

    void Reset() {
        std::lock_guard lock(mutex_);
        end_.clear();
    }
    std::string Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(20), [this] { return !end_.empty(); });
        return end_;
    }

    // Runs on the job's thread when it asks where to save.
    std::function<void()> whileAskingSaveFile;

private:
    void End(const std::string& how) {
        std::lock_guard lock(mutex_);
        if (end_.empty())
            end_ = how;
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string end_;
};

// The JPEG of an upload's file part, decoded.
inline Picture UploadedPicture(const std::string& body) {
    const std::size_t start = body.find("\r\n\r\n", body.find("name=\"screenshot\"")) + 4;
    const std::size_t end = body.find("\r\n--", start);
    return DecodeJpeg(reinterpret_cast<const std::uint8_t*>(body.data() + start), end - start);
}

// A smooth picture (small JPEG loss) of the given size, saved at `path` in `format` ("JPG" or
// "BMP"); blue 128, green y × 3 and red x × 2 (mod 256). JPEGs come from the program's own
// encoder: Qt for Windows is built without its JPEG plugin.
inline void WriteSmoothPicture(const QString& path, int width, int height, const char* format) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 2 % 256, y * 3 % 256, 128));
    QDir().mkpath(QFileInfo(path).path());
    if (QByteArray(format).toUpper() != "JPG") {
        EXPECT_TRUE(image.save(path, format)) << path.toStdString();
        return;
    }
    Picture picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const QRgb rgb = image.pixel(x, y);
            std::uint8_t* at = picture.At(x, y);
            at[0] = static_cast<std::uint8_t>(qBlue(rgb));
            at[1] = static_cast<std::uint8_t>(qGreen(rgb));
            at[2] = static_cast<std::uint8_t>(qRed(rgb));
        }
    JpegEncoder encoder;
    encoder.SetQuality(95);
    encoder.SetPicture(std::move(picture));
    encoder.Encode();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    const auto& data = encoder.Data();
    ASSERT_EQ(
        file.write(reinterpret_cast<const char*>(data.data()), static_cast<qint64>(data.size())),
        static_cast<qint64>(data.size()));
}

// `path` as the program names files: UTF-8 on Windows, the file system's encoding elsewhere.
inline std::string ProgramPath(const QString& path) {
#ifdef _WIN32
    return path.toUtf8().toStdString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

// What every command works with: a loopback service answering each request with `reply` (or
// failing with `failStatus`, e.g. "HTTP/1.1 500 Internal Server Error\r\n"), a scripted desktop
// with Print registered, the shared state, the connection, the stand-in window and the gate.
class CommandTest : public ::testing::Test {
protected:
    static constexpr int kPrint = 101;

    CommandTest() {
        platform->hotKeys->Register(kPrint, platform::Key::Print, platform::NoModifier);
        platform->hotKeys->SetHandler([](int) {});
    }
    // The request lines the service got, in order.
    std::vector<std::string> Sent() {
        std::vector<std::string> lines;
        for (const auto& request : server.Requests())
            lines.push_back(request.RequestLine());
        return lines;
    }

    std::string reply = "ok|3.2|http://h/a.jpg";
    std::string failStatus;
    // Runs on the service's thread before it answers: what happens while the window waits.
    std::function<void()> whileAnswering;
    LoopbackServer server{[this](const RecordedRequest&) {
        if (whileAnswering)
            whileAnswering();
        return failStatus.empty() ? LoopbackServer::Ok(reply)
                                  : failStatus + "Content-Length: 0\r\nConnection: close\r\n\r\n";
    }};
    FakePlatform desktop;
    std::unique_ptr<platform::Platform> platform = desktop.MakePlatform();
    SharedState state;
    net::HttpClient http;
    ServiceHosts hosts{server.Host(), server.Host()};
    StandInWindow window;
    CaptureGate gate{state, *platform->hotKeys, [this] { window.LockOptions(false); }};
};

} // namespace glimmerly::testing
