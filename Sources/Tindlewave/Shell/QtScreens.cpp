#include "Shell/QtScreens.h"

#include <QGuiApplication>
#include <QScreen>
#include <utility>

namespace tindlewave {

QtScreens::QtScreens(Sink onChange, QObject* parent) : QObject(parent), onChange_(std::move(onChange)) {
    for (QScreen* screen : QGuiApplication::screens()) follow(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        follow(screen);
        refresh();
    });
    // Queued: the screen may still be listed while it is being removed.
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, [this] { refresh(); }, Qt::QueuedConnection);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, [this] { refresh(); });
    refresh();
}

std::vector<Screen> QtScreens::current() {
    std::vector<Screen> screens;
    DisplayID next = 1;
    // The primary screen first, so a reader that takes the first screen takes the main one.
    QList<QScreen*> all = QGuiApplication::screens();
    if (QScreen* primary = QGuiApplication::primaryScreen(); primary && all.removeOne(primary))
        all.prepend(primary);
    for (QScreen* screen : all) {
        const QRect area = screen->geometry();
        const double rate = screen->refreshRate();
        screens.push_back(Screen{next++,
                                 {double(area.x()), double(area.y()), double(area.width()), double(area.height())},
                                 rate > 0 ? rate : 60});
    }
    return screens;
}

void QtScreens::follow(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, [this] { refresh(); });
    connect(screen, &QScreen::refreshRateChanged, this, [this] { refresh(); });
}

void QtScreens::refresh() {
    if (onChange_) onChange_(current());
}

}  // namespace tindlewave
