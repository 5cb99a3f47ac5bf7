#pragma once
// The desktop portal's Screenshot call over the session bus, non-interactive.

#include "imaging/picture.h"

#include <QDBusMessage>
#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace glimmerly::platform::wayland {

class PortalScreenshot : public QObject {
    Q_OBJECT

public:
    // The whole layout as the portal delivers it (possibly in device pixels). Waits for the
    // answer in a local event loop, at most `timeoutMs`. Throws std::runtime_error (German,
    // Windows-1252) when there is no portal, it refuses or it does not answer, or when the file
    // its answer names is not plainly the one just written for us (that file is left alone). A
    // request given up on is forgotten: its late answer touches no file.
    Picture Take(int timeoutMs = 30000);

private slots:
    void OnResponse(uint response, const QVariantMap& results, const QDBusMessage& message);

private:
    void Subscribe(const QString& path);
    void Unsubscribe(const QString& path);

    QString waitingFor_;
    QEventLoop* loop_ = nullptr;
    bool answered_ = false;
    uint response_ = 0;
    QString uri_;
};

} // namespace glimmerly::platform::wayland
