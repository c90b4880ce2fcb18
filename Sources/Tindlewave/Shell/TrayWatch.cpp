#include "Shell/TrayWatch.h"

#include <QSystemTrayIcon>
#include <QTimer>

namespace tindlewave {

TrayWatch::TrayWatch(Options options, std::function<void()> appeared, QObject* parent)
    : QObject(parent), options_(std::move(options)), appeared_(std::move(appeared)), timer_(new QTimer(this)),
      looksLeft_(int(options_.lookFor / std::max(options_.every, std::chrono::milliseconds(1)))) {
    if (!options_.available) options_.available = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    timer_->setInterval(options_.every);
    connect(timer_, &QTimer::timeout, this, [this] { look(); });
    if (looksLeft_ > 0) timer_->start();
}

bool TrayWatch::isLooking() const {
    return timer_->isActive();
}

void TrayWatch::look() {
    --looksLeft_;
    if (options_.available()) {
        timer_->stop();
        if (appeared_) appeared_();
    } else if (looksLeft_ <= 0) {
        timer_->stop();
    }
}

}  // namespace tindlewave
