#include "Shell/TrayWatch.h"

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QTimer>

namespace tindlewave {

// Every client message the connection receives: a panel taking the tray sends MANAGER to the
// root window, which Qt's connection hears. Other client messages are rare, and a look costs one
// round trip to the server, so any of them is a reason to look.
class TrayWatch::Announcements final : public QAbstractNativeEventFilter {
  public:
    explicit Announcements(TrayWatch& watch) : watch_(watch) { QCoreApplication::instance()->installNativeEventFilter(this); }
    ~Announcements() override {
        if (auto* application = QCoreApplication::instance()) application->removeNativeEventFilter(this);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        // The look waits for the server's answer: not inside the connection's event dispatch.
        if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE)
            QTimer::singleShot(0, &watch_, [watch = &watch_] { watch->look(); });
        return false;
    }

  private:
    TrayWatch& watch_;
};

TrayWatch::TrayWatch(Options options, std::function<void()> appeared, QObject* parent)
    : QObject(parent), options_(std::move(options)), appeared_(std::move(appeared)), timer_(new QTimer(this)),
      looksLeft_(int(options_.lookFor / std::max(options_.every, std::chrono::milliseconds(1)))) {
    if (!options_.available) options_.available = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    const bool announced = options_.announced.value_or(QGuiApplication::platformName() == QLatin1String("xcb"));
    if (announced) {
        announcements_ = std::make_unique<Announcements>(*this);
        return;
    }
    timer_->setInterval(options_.every);
    connect(timer_, &QTimer::timeout, this, [this] { look(); });
    if (looksLeft_ > 0) timer_->start();
}

TrayWatch::~TrayWatch() = default;

bool TrayWatch::isLooking() const {
    return timer_->isActive() || announcements_ != nullptr;
}

void TrayWatch::look() {
    if (!isLooking()) return;
    --looksLeft_;
    if (options_.available()) {
        timer_->stop();
        announcements_.reset();
        if (appeared_) appeared_();
    } else if (looksLeft_ <= 0 && !announcements_) {
        timer_->stop();
    }
}

}  // namespace tindlewave
