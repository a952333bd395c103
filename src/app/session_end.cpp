#include "app/session_end.h"

#include <QGuiApplication>
#include <QSessionManager>

// The session manager's request to save and quit reaches every system's Qt the same way.
void WatchSessionEnd(std::function<void()> onEnd) {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app) {
        QObject::connect(app, &QGuiApplication::commitDataRequest, app,
                         [onEnd](QSessionManager&) { onEnd(); });
    }
    WatchSystemEnd(std::move(onEnd));
}
