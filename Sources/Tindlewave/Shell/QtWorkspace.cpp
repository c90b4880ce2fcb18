#include "Shell/QtWorkspace.h"

#include <QDBusConnection>
#include <QDBusMessage>
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
    if (!target.isValid() || target.scheme().startsWith("x-apple")) return;
    QDesktopServices::openUrl(target);
}

void QtWorkspace::reveal(const std::string& path) {
    const QUrl file = QUrl::fromLocalFile(QString::fromStdString(path));
    auto bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        auto call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                   "/org/freedesktop/FileManager1",
                                                   "org.freedesktop.FileManager1", "ShowItems");
        call << QStringList{file.toString()} << QString();
        // Blocks briefly at most; an answer means a file manager took it.
        const auto reply = bus.call(call, QDBus::Block, 2000);
        if (reply.type() == QDBusMessage::ReplyMessage) return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(QString::fromStdString(path)).absolutePath()));
}

}  // namespace tindlewave
