#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTimer;
class QDBusServiceWatcher;

namespace tindlewave {

// Follows the system tray after the start, both ways, and calls `changed` with the new answer
// each time it changes. Started at login, the program may come up before the panel that holds the
// tray; and a panel that crashes or is restarted takes its tray along. On X11 the panel that
// takes the tray says so to every client (a client message to the root window), and the window
// that held it is destroyed when it goes: it looks then, with no timer, so an idle program is not
// woken. A tray of status notifiers (a D-Bus service) is looked at again whenever that service
// comes or goes. Elsewhere Qt tells of no tray that appears, so while there is none it asks
// every `every` until `lookFor` has passed (again from a tray's going).
class TrayWatch final : public QObject {
  public:
    struct Options {
        std::chrono::milliseconds every = std::chrono::seconds(2);
        std::chrono::milliseconds lookFor = std::chrono::minutes(5);
        std::function<bool()> available;  // the platform's answer when empty
        // Whether the X server's announcements are followed instead of asking on a timer; by
        // default where the platform is X11.
        std::optional<bool> announced = std::nullopt;
        // The D-Bus connection (by its name) whose status-notifier service is followed; the session
        // bus when empty.
        QString bus;
    };

    // `there`: whether the program has a tray now.
    TrayWatch(Options options, bool there, std::function<void(bool there)> changed, QObject* parent = nullptr);
    ~TrayWatch() override;

    bool there() const { return there_; }
    // Whether it asks on a timer now.
    bool isAsking() const;
    // Looks once now (the tray may just have come or gone).
    void look();

  private:
    class Announcements;
    void askAgain();

    Options options_;
    std::function<void(bool)> changed_;
    bool there_;
    QTimer* timer_;
    int looksLeft_ = 0;
    std::unique_ptr<Announcements> announcements_;  // X11's
    QDBusServiceWatcher* notifiers_;
};

}  // namespace tindlewave
