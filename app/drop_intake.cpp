#include "app/drop_intake.h"

#include "app/capture_gate.h"
#include "app/capture_intake.h"
#include "app/shared_state.h"
#include "app/window_views.h"
#include "codecs/bmp_decoder.h"
#include "codecs/decode_limits.h"
#include "codecs/jpeg_decoder.h"
#include "platform/file_read.h"
#include "text/cp1252.h"
#include "text/screenshot_name.h"
#include "text/text_routines.h"

#include <stdexcept>

namespace glimmerly {
namespace {

[[noreturn]] void Unreadable(const std::string& path, const std::string& why) {
    throw std::runtime_error(
        cp1252::FromUtf8("Die Datei \"" + path + "\" kann nicht gelesen werden: " + why));
}

// What the user is told when a reader refuses a picture for what it would cost.
std::string RefusalText(PictureRefusal reason, bool jpeg) {
    const std::string picture = jpeg ? "Das JPEG-Bild" : "Das BMP-Bild";
    switch (reason) {
    case PictureRefusal::SideTooLong:
        return picture + " ist zu groß: Breite und Höhe dürfen höchstens " +
               std::to_string(kMaxPictureSide) + " Pixel betragen.";
    case PictureRefusal::TooManyPixels:
        return picture + " ist zu groß: es hat mehr als " +
               std::to_string(kMaxPicturePixels / 1000000) + " Millionen Pixel.";
    case PictureRefusal::OverBudget:
        return picture + " braucht zum Entpacken mehr als " +
               std::to_string(kDecodeBudgetBytes >> 20) + " MB Speicher.";
    case PictureRefusal::ShorterThanClaimed:
        return "Die JPEG-Datei ist beschädigt: sie ist zu kurz für die Bildgröße, die sie angibt.";
    case PictureRefusal::ScansOutOfOrder:
        return "Die JPEG-Datei ist beschädigt: ihre Scans stehen in falscher Reihenfolge.";
    case PictureRefusal::ArithmeticCoding:
        return "Arithmetisch kodierte JPEG-Dateien werden nicht unterstützt.";
    }
    return picture + " kann nicht gelesen werden.";
}

// Unticks "Nur aktives Fenster speichern" however the editor ends.
struct UntickAfterwards {
    DropView& view;
    ~UntickAfterwards() { view.TickActiveWindow(false); }
};

} // namespace

std::string DropExtension(std::string_view path) {
    std::string extension = TextAfter(path, ".");
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return extension;
}

std::string DropNameSource(std::string_view path) {
    const std::string before = TextBefore(path, ".");
    const std::size_t slash = before.find_last_of(platform::FolderSeparators());
    return slash == std::string::npos ? before : before.substr(slash + 1);
}

Picture ReadPictureFile(const std::string& path, bool jpeg) {
    // Opened without waiting, so a named pipe or a device dropped under a picture's name is
    // refused at once instead of holding the window until somebody writes to it.
    const platform::FileRead file = platform::ReadRegularFile(path, kMaxPictureFileBytes);
    if (!file.bytes)
        Unreadable(path, file.refusal);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.bytes->data());
    try {
        return jpeg ? DecodeJpeg(bytes, file.bytes->size()) : DecodeBmp(bytes, file.bytes->size());
    } catch (const PictureRefused& e) {
        throw std::runtime_error(cp1252::FromUtf8(RefusalText(e.reason(), jpeg)));
    }
}

DropIntake::DropIntake(SharedState& state, CaptureGate& gate, CaptureIntake& intake, DropView& view)
    : state_(state), gate_(gate), intake_(intake), view_(view) {}

void DropIntake::WMDropFiles(const std::vector<std::string>& paths) {
    if (paths.empty())
        return;
    if (!state_.CaptureReady) {
        // One job at a time: the running one keeps its picture, its file and the connection.
        view_.ShowStatus(cp1252::FromUtf8(
            "Die Datei wurde nicht übernommen – es wird noch ein Screenshot bearbeitet."));
        return;
    }
    const std::string& path = paths.front();
    const std::string extension = DropExtension(path);
    if (extension != "jpg" && extension != "bmp")
        return;

    state_.CaptureReady = false;
    view_.LockOptions(true);
    try {
        Take(path, extension == "jpg");
    } catch (...) {
        // No job runs: ready again for the next capture or drop.
        gate_.ReArm();
        throw;
    }
}

void DropIntake::Take(const std::string& path, bool jpeg) {
    Picture screenshotBitmap = ReadPictureFile(path, jpeg);
    view_.ProposeName(MakeScreenshotName(cp1252::FromUtf8(DropNameSource(path))));
    state_.ProposedName.clear();
    view_.ShowStatus(cp1252::FromUtf8("Screenshot wird bearbeitet..."));

    const CaptureIntake::Handling handling{true, true, {}};
    if (!view_.Options().editAfterwards) {
        intake_.TakePicture(std::move(screenshotBitmap), handling);
        return;
    }
    // The editor opens on the whole picture, without the monitor overview.
    view_.TickActiveWindow(true);
    UntickAfterwards untick{view_};
    intake_.TakePicture(std::move(screenshotBitmap), handling);
}

} // namespace glimmerly
