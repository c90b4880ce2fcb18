#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace tindlewave {

// Looks for a system tray after the start: started at login, the program may come up before the
// panel that holds the tray, and calls `appeared` once when there is one. On X11 the panel that
// takes the tray says so to every client (a client message to the root window), and it looks
// then, with no timer: an idle program is not woken. Elsewhere Qt tells of no tray that appears,
// so it asks every `every` until `lookFor` has passed.
class TrayWatch final : public QObject {
  public:
    struct Options {
        std::chrono::milliseconds every = std::chrono::seconds(2);
        std::chrono::milliseconds lookFor = std::chrono::minutes(5);
        std::function<bool()> available;  // the platform's answer when empty
        // Whether the X server's announcements are followed instead of asking on a timer; by
        // default where the platform is X11.
        std::optional<bool> announced = std::nullopt;
    };

    TrayWatch(Options options, std::function<void()> appeared, QObject* parent = nullptr);
    ~TrayWatch() override;

    bool isLooking() const;
    // Looks once now (the tray may just have been announced); nothing once it has appeared.
    void look();

  private:
    class Announcements;

    Options options_;
    std::function<void()> appeared_;
    QTimer* timer_;
    int looksLeft_;
    std::unique_ptr<Announcements> announcements_;  // X11's, while it waits for them
};

}  // namespace tindlewave
