#include "Shell/QtWorkspace.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace tindlewave {

namespace {
QUrl urlOf(const std::string& text) {
    const QString value = QString::fromStdString(text);
    if (value.startsWith('/')) return QUrl::fromLocalFile(value);
    return QUrl(value);
}
}  // namespace

void QtWorkspace::open(const std::string& url) {
    const QUrl target = urlOf(url);
    if (!target.isValid()) return;
    QDesktopServices::openUrl(target);
}

void QtWorkspace::reveal(const std::string& path) {
    const QString file = QString::fromStdString(path);
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(file).absolutePath());
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(folder);
        return;
    }
    auto call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                               "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{QUrl::fromLocalFile(file).toString()} << QString();
    // Answered on the event loop; without a file manager on the bus the folder opens instead.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 2000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [folder](QDBusPendingCallWatcher* done) {
        if (done->isError()) QDesktopServices::openUrl(folder);
        done->deleteLater();
    });
}

}  // namespace tindlewave
