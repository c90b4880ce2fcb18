#pragma once

#include <memory>

#include "Platform/Executor.h"

class QObject;
class QTimer;

namespace tindlewave {

class TimerQueue;

// The main executor: jobs and timers run on the Qt event loop of the GUI thread, where the app
// model, the menu and the settings window live. Posting and scheduling work from any thread.
// Every job and timer runs with this executor current, and so does everything the event loop
// dispatches inside exec(), so isCurrent() is true in every slot. Make it on the GUI thread, after
// the QApplication; destroying it drops what is still pending.
class QtMainExecutor final : public Executor {
  public:
    explicit QtMainExecutor(const Clock& clock);
    ~QtMainExecutor() override;
    QtMainExecutor(const QtMainExecutor&) = delete;
    QtMainExecutor& operator=(const QtMainExecutor&) = delete;

    void post(Job job) override;
    TimerHandle schedule(Instant deadline, Job job) override;
    const Clock& clock() const override { return clock_; }

    // Runs QApplication::exec() with this executor current; returns its exit code.
    int exec();

    // Makes this executor current on the calling (GUI) thread for the scope's lifetime: for code
    // that runs outside exec(), such as a test driving widgets directly.
    class Entered {
      public:
        explicit Entered(const QtMainExecutor& executor) : scope_(&executor) {}

      private:
        CurrentScope scope_;
    };

  private:
    void runDueTimers();
    void armTimer();

    const Clock& clock_;
    std::unique_ptr<QObject> context_;
    QTimer* timer_;  // owned by context_
    std::shared_ptr<TimerQueue> timers_;
};

}  // namespace tindlewave
