#pragma once

#include <QObject>
#include <csignal>
#include <functional>

#include "Platform/Linux/System/UniqueFd.h"

class QSocketNotifier;

namespace tindlewave {

// Turns the quitting signals (SIGTERM, SIGINT from a terminal's Ctrl-C, SIGHUP from a closed
// terminal) into a call on the GUI thread with the signal's number. The signal handler only writes
// the number to a socket pair; a notifier on the event loop reads it and calls `onSignal`, which
// takes the program's one quit path. (Ignoring a signal would discard it; a handler keeps it
// deliverable.) Other signals keep their default actions. One instance at a time; the previous
// dispositions are restored when it is destroyed.
class TerminationSignal final : public QObject {
    Q_OBJECT

  public:
    explicit TerminationSignal(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~TerminationSignal() override;

    // False when the socket pair or the handlers could not be set up (the signals then keep their
    // default actions).
    bool isInstalled() const { return installed_; }

    // "SIGINT" for SIGINT: the name a log line gives.
    static std::string name(int signal);

  private:
    void readSignal();

    std::function<void(int)> onSignal_;
    UniqueFd readEnd_;   // the notifier's
    UniqueFd writeEnd_;  // the handler's
    QSocketNotifier* notifier_ = nullptr;
    bool installed_ = false;
};

// Holds the quitting signals back (blocked on the calling thread, and so on every thread made from
// it meanwhile) until release(): one that comes while the program sets up its devices, before the
// TerminationSignal is there, is delivered once it is and quits the program the one way, with the
// devices put back, rather than ending it with them set up. Make it on the main thread before any
// other thread; release() there.
class HeldTerminationSignals {
  public:
    HeldTerminationSignals();
    ~HeldTerminationSignals() { release(); }
    HeldTerminationSignals(const HeldTerminationSignals&) = delete;
    HeldTerminationSignals& operator=(const HeldTerminationSignals&) = delete;
    void release();

  private:
    sigset_t previous_{};
    bool held_ = false;
};

}  // namespace tindlewave
