#include "Shell/TrayWatch.h"

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QTimer>

namespace tindlewave {

namespace {
// The service a tray of status notifiers registers on the session bus.
constexpr const char* notifierWatcher = "org.kde.StatusNotifierWatcher";
}  // namespace

// Every client message the connection receives: a panel taking the tray sends MANAGER to the
// root window, which Qt's connection hears. And every window destroyed that the connection follows:
// the tray's is among them once Qt has found it. Other such events are rare, and a look costs at
// most one round trip to the server, so any of them is a reason to look.
class TrayWatch::Announcements final : public QAbstractNativeEventFilter {
  public:
    explicit Announcements(TrayWatch& watch) : watch_(watch) { QCoreApplication::instance()->installNativeEventFilter(this); }
    ~Announcements() override {
        if (auto* application = QCoreApplication::instance()) application->removeNativeEventFilter(this);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        const auto kind = event->response_type & 0x7F;
        // The look waits for the server's answer, and for Qt to have seen the event too: not inside
        // the connection's event dispatch.
        if (kind == XCB_CLIENT_MESSAGE || kind == XCB_DESTROY_NOTIFY)
            QTimer::singleShot(0, &watch_, [watch = &watch_] { watch->look(); });
        return false;
    }

  private:
    TrayWatch& watch_;
};

TrayWatch::TrayWatch(Options options, bool there, std::function<void(bool)> changed, QObject* parent)
    : QObject(parent), options_(std::move(options)), changed_(std::move(changed)), there_(there),
      timer_(new QTimer(this)),
      notifiers_(new QDBusServiceWatcher(
          notifierWatcher, options_.bus.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(options_.bus),
          QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration, this)) {
    if (!options_.available) options_.available = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    connect(notifiers_, &QDBusServiceWatcher::serviceRegistered, this, [this] { look(); });
    connect(notifiers_, &QDBusServiceWatcher::serviceUnregistered, this, [this] { look(); });
    if (options_.announced.value_or(QGuiApplication::platformName() == QLatin1String("xcb"))) {
        announcements_ = std::make_unique<Announcements>(*this);
        return;
    }
    timer_->setInterval(options_.every);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (--looksLeft_ <= 0) timer_->stop();
        look();
    });
    if (!there_) askAgain();
}

TrayWatch::~TrayWatch() = default;

bool TrayWatch::isAsking() const {
    return timer_->isActive();
}

void TrayWatch::askAgain() {
    if (announcements_) return;
    looksLeft_ = int(options_.lookFor / std::max(options_.every, std::chrono::milliseconds(1)));
    if (looksLeft_ > 0) timer_->start();
}

void TrayWatch::look() {
    const bool now = options_.available();
    if (now == there_) return;
    there_ = now;
    if (there_) timer_->stop();
    else askAgain();
    if (changed_) changed_(there_);
}

}  // namespace tindlewave
