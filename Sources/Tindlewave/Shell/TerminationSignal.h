#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace tindlewave {

// Turns SIGTERM into a call on the GUI thread. The signal handler only writes one byte to a
// socket pair; a notifier on the event loop reads it and calls `onSignal`, which takes the
// program's one quit path. (Ignoring the signal would discard it; a handler keeps it deliverable.)
// Only SIGTERM is handled: other signals keep their default actions. One instance at a time; the
// previous disposition is restored when it is destroyed.
class TerminationSignal final : public QObject {
    Q_OBJECT

  public:
    explicit TerminationSignal(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationSignal() override;

    // False when the socket pair or the handler could not be set up (SIGTERM then keeps its
    // default action).
    bool isInstalled() const { return installed_; }

  private:
    void readSignal();

    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
    bool installed_ = false;
};

}  // namespace tindlewave
