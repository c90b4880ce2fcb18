#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "Model/EngineStatus.h"
#include "Platform/EventSystem.h"

namespace tindlewave::headless {

// Whole lines to standard output from any thread, never interleaved.
class Printer {
  public:
    void line(std::string_view text);

  private:
    std::mutex mutex_;
};

// The engine's status in one line: run state, grants, tap, then each device's state.
std::string statusLine(const EngineStatus& status);
// A posted event: its type, level and the fields that matter for it.
std::string postedLine(const Event& event, EventLevel level);
// Whether every configured, connected device is set up (nothing applying or failed).
bool everyDeviceApplied(const EngineStatus& status);

}  // namespace tindlewave::headless
