#pragma once

#include <functional>
#include <memory>
#include <variant>

#include "Platform/Linux/Session/LogindSleepWatch.h"

namespace tindlewave {

class RunLoopExecutor;

// The system's resumes from sleep as logind announces them, followed on one executor: each
// "PrepareForSleep" with false calls `onWake` there; true (going to sleep) is ignored. A lost
// bus connection ends the watch quietly. Destroying this ends it too (a callback already running
// on the executor finishes first).
class LogindWakes {
  public:
    static std::variant<std::unique_ptr<LogindWakes>, LogindSleepWatch::Unavailable> start(
        RunLoopExecutor& executor, std::function<void()> onWake);
    ~LogindWakes();
    LogindWakes(const LogindWakes&) = delete;
    LogindWakes& operator=(const LogindWakes&) = delete;

  private:
    struct State;
    explicit LogindWakes(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

}  // namespace tindlewave
