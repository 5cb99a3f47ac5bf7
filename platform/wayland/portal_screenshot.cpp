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

#include <unistd.h>

#include <stdexcept>

namespace glimmerly::platform::wayland {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");

[[noreturn]] void Fail(const char* why) {
    throw std::runtime_error(cp1252::FromUtf8(
        std::string("Bildschirmfoto über den Desktop-Dienst fehlgeschlagen: ") + why));
}

// The file behind the portal's answer, read and deleted at once.
std::optional<std::string> TakeFile(const QString& uri) {
    const QUrl url(uri);
    if (!url.isLocalFile())
        return std::nullopt;
    return ReadAndDelete(QFile::encodeName(url.toLocalFile()).toStdString());
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
    const QString uri = results.value(QStringLiteral("uri")).toString();
    if (message.path() == waitingFor_ && !answered_) {
        answered_ = true;
        response_ = response;
        uri_ = uri;
        if (loop_ != nullptr)
            loop_->quit();
        return;
    }
    if (abandoned_.erase(message.path()) > 0) {
        Unsubscribe(message.path());
        if (!uri.isEmpty())
            TakeFile(uri);
    }
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
    if (!answered_) {
        // Asked to close; should the answer come all the same, its file is deleted then.
        bus.call(QDBusMessage::createMethodCall(kService, path, kRequest, QStringLiteral("Close")),
                 QDBus::NoBlock);
        abandoned_.insert(path);
        Fail("keine Antwort");
    }
    Unsubscribe(path);
    const std::optional<std::string> bytes = uri_.isEmpty() ? std::nullopt : TakeFile(uri_);
    if (response_ != 0)
        Fail("der Desktop hat es abgelehnt");
    if (!bytes)
        Fail("die Bilddatei ist nicht lesbar");
    const QImage image = QImage::fromData(reinterpret_cast<const uchar*>(bytes->data()),
                                          static_cast<int>(bytes->size()));
    if (image.isNull())
        Fail("die Bilddatei ist kein Bild");
    return FromQImage(image);
}

} // namespace glimmerly::platform::wayland
