#include "platform/wayland/portal_screenshot.h"

#include "imaging/qt/picture_qimage.h"
#include "platform/wayland/portal_file.h"
#include "text/cp1252.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QTimer>
#include <QUrl>

#include <time.h>
#include <unistd.h>

#include <stdexcept>

namespace glimmerly::platform::wayland {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");

[[noreturn]] void Fail(const std::string& why) {
    throw std::runtime_error(
        cp1252::FromUtf8("Bildschirmfoto über den Desktop-Dienst fehlgeschlagen: " + why));
}

// The local path the answer's address names, in the file system's encoding; empty for none.
std::string LocalPath(const QString& uri) {
    const QUrl url(uri);
    return url.isLocalFile() ? QFile::encodeName(url.toLocalFile()).toStdString() : std::string();
}

} // namespace

void PortalScreenshot::Subscribe(const QString& path) {
    QDBusConnection::sessionBus().connect(kService, path, kRequest, QStringLiteral("Response"),
                                          this, SLOT(OnResponse(uint, QVariantMap, QDBusMessage)));
}

void PortalScreenshot::Unsubscribe(const QString& path) {
    QDBusConnection::sessionBus().disconnect(kService, path, kRequest, QStringLiteral("Response"),
                                             this,
                                             SLOT(OnResponse(uint, QVariantMap, QDBusMessage)));
}

void PortalScreenshot::OnResponse(uint response, const QVariantMap& results,
                                  const QDBusMessage& message) {
    if (message.path() != waitingFor_ || answered_)
        return;
    answered_ = true;
    response_ = response;
    uri_ = results.value(QStringLiteral("uri")).toString();
    if (loop_ != nullptr)
        loop_->quit();
}

Picture PortalScreenshot::Take(int timeoutMs) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        Fail("keine Verbindung zum Sitzungsbus");

    // The request's object path follows from our bus name and the token; the answer is
    // subscribed to before the call, so that a quick one is not missed.
    static unsigned counter = 0;
    const QString token = QStringLiteral("glimmerly_%1_%2").arg(::getpid()).arg(++counter);
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    QString path =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    waitingFor_ = path;
    answered_ = false;
    uri_.clear();
    Subscribe(path);
    timespec requested{};
    ::clock_gettime(CLOCK_REALTIME, &requested);

    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("Screenshot"));
    call << QString()
         << QVariantMap{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("interactive"), false}};
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        Unsubscribe(path);
        waitingFor_.clear();
        Fail("kein Screenshot-Dienst erreichbar");
    }
    const QString handle = reply.arguments().constFirst().value<QDBusObjectPath>().path();
    if (!handle.isEmpty() && handle != path) {
        // Portals older than the token rule name the request themselves.
        Unsubscribe(path);
        path = handle;
        waitingFor_ = path;
        Subscribe(path);
    }

    if (!answered_) {
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop_ = &loop;
        loop.exec();
        loop_ = nullptr;
    }
    waitingFor_.clear();
    Unsubscribe(path);
    if (!answered_) {
        // Asked to close; should the answer come all the same, nobody listens: its file, if it
        // names one, stays where it is.
        bus.call(QDBusMessage::createMethodCall(kService, path, kRequest, QStringLiteral("Close")),
                 QDBus::NoBlock);
        Fail("keine Antwort");
    }
    const FileRead file = TakeAnswerFile(response_, LocalPath(uri_), requested);
    if (!file.bytes)
        Fail(file.refusal);
    const QImage image = QImage::fromData(reinterpret_cast<const uchar*>(file.bytes->data()),
                                          static_cast<int>(file.bytes->size()));
    if (image.isNull())
        Fail("die Bilddatei ist kein Bild");
    return FromQImage(image);
}

} // namespace glimmerly::platform::wayland
