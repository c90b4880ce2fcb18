#pragma once

#include <functional>
#include <memory>

namespace tindlewave {

class EngineControl;
class Executor;

// The one way the program quits, whatever asked (the menu, a signal, the end of the session):
// the engine puts every device back first; once it has, the engine's run is cancelled, and only
// then may the program end. There is no way back, and requests after the first are ignored.
// Main executor only.
class QuitSequence {
  public:
    // `cancelEngineRun` ends the engine's run; `end` lets the program end. Both run on `main`,
    // after the engine's shutdown has finished, and not at all once this object is gone.
    QuitSequence(Executor& main, EngineControl& engine, std::function<void()> cancelEngineRun,
                 std::function<void()> end);
    ~QuitSequence();
    QuitSequence(const QuitSequence&) = delete;
    QuitSequence& operator=(const QuitSequence&) = delete;

    void request();
    bool isQuitting() const { return quitting_; }

  private:
    struct Steps;

    Executor& main_;
    EngineControl& engine_;
    std::shared_ptr<Steps> steps_;
    bool quitting_ = false;
};

}  // namespace tindlewave
