#include "platform/wayland/ppm.h"
#include "platform/wayland/wayland_parts.h"
#include "text/cp1252.h"

#include <QProcess>
#include <QStringList>

#include <stdexcept>

namespace glimmerly::platform::wayland {

namespace {

constexpr int kGrimTimeoutMs = 15000;

[[noreturn]] void Fail(const std::string& why) {
    throw std::runtime_error(cp1252::FromUtf8("Bildschirmfoto mit grim fehlgeschlagen: " + why));
}

} // namespace

Picture GrabWithGrim() {
    QProcess grim;
    // Scale 1: one picture pixel per logical unit, whatever the outputs' scales; PPM on the
    // standard output, so that no file holds the picture.
    grim.start(QStringLiteral("grim"),
               {QStringLiteral("-s"), QStringLiteral("1"), QStringLiteral("-t"),
                QStringLiteral("ppm"), QStringLiteral("-")});
    if (!grim.waitForStarted(kGrimTimeoutMs))
        Fail("das Programm lässt sich nicht starten (Paket grim installiert?)");
    if (!grim.waitForFinished(kGrimTimeoutMs)) {
        grim.kill();
        grim.waitForFinished(1000);
        Fail("keine Antwort");
    }
    const QByteArray picture = grim.readAllStandardOutput();
    if (grim.exitStatus() != QProcess::NormalExit || grim.exitCode() != 0) {
        const QByteArray why = grim.readAllStandardError().trimmed().left(200);
        Fail(why.isEmpty() ? std::string("Fehlercode ") + std::to_string(grim.exitCode())
                           : why.toStdString());
    }
    return ParsePpm(
        std::string_view(picture.constData(), static_cast<std::size_t>(picture.size())));
}

} // namespace glimmerly::platform::wayland
