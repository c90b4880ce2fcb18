#pragma once

#include <string>

#include "Model/Rule.h"
#include "Runtime/Executors/Actors.h"
#include "Runtime/Stores/LogStore.h"

namespace tindlewave {

class EventSystem;
class Executor;
class SymbolicHotKeys;

// Carries out the actions the engine publishes by posting keyboard events: a shortcut, a tap of
// one side modifier, or the shortcut the user has assigned to a system action. Every posted
// event carries the program's marker, so the program's own taps let it pass. Keeps no state
// between actions; logs under the category "actions".
//
// Threads: bound to the executor its owner gives (the main one); perform there.
class ActionPerformer {
  public:
    ActionPerformer(EventSystem& events, const SymbolicHotKeys& hotKeys, Executor& executor,
                    Logger log = Logger(std::string(bundleIdentifier), "actions"));

    // Carries out one action at once.
    void perform(const Action& action);

  private:
    void system(SystemAction action);

    EventSystem& events_;
    const SymbolicHotKeys& hotKeys_;
    Executor& executor_;
    Logger log_;
};

}  // namespace tindlewave
