#pragma once

#include <QObject>
#include <chrono>
#include <functional>

class QTimer;

namespace tindlewave {

// Looks for a system tray for a while after the start: started at login, the program may come up
// before the panel that holds the tray. Qt tells of no tray that appears, so it asks every
// `every` until `lookFor` has passed, and calls `appeared` once when there is one.
class TrayWatch final : public QObject {
  public:
    struct Options {
        std::chrono::milliseconds every = std::chrono::seconds(2);
        std::chrono::milliseconds lookFor = std::chrono::minutes(5);
        std::function<bool()> available;  // the platform's answer when empty
    };

    TrayWatch(Options options, std::function<void()> appeared, QObject* parent = nullptr);

    bool isLooking() const;

  private:
    void look();

    Options options_;
    std::function<void()> appeared_;
    QTimer* timer_;
    int looksLeft_;
};

}  // namespace tindlewave
