#pragma once

#include <functional>

#include "Model/Config.h"
#include "Model/EngineStatus.h"
#include "Model/Rule.h"
#include "Platform/Cancellable.h"
#include "Runtime/Executors/Channel.h"
#include "Runtime/Stores/ConfigSnapshot.h"

namespace tindlewave {

// The engine as the program's user interface drives it. Every call is made on the main executor
// and returns at once: the engine does the work on its own executor and is never waited for; what
// comes of a call shows only in later statuses and learned presses. The adapter over the engine's
// assembly posts each call to the engine's executor; the assembly performs the engine's actions.
class EngineControl {
  public:
    virtual ~EngineControl() = default;

    // Runs the engine over the store's snapshots (and the permissions, polled every second) until
    // the returned handle is cancelled (or dropped). Called once.
    [[nodiscard]] virtual Cancellable run(Channel<ConfigSnapshot> configs) = 0;

    // The engine's streams: the same stream on every call, each with one subscriber. Statuses
    // keep only the newest; learned presses keep every element.
    virtual Channel<EngineStatus> statuses() = 0;
    virtual Channel<LearnedPress> heard() = 0;

    // Applies every device's set-up and the tap rules again (reason: manual).
    virtual void reapplyAll() = 0;
    // Pauses (neutral set-up) or resumes; nothing happens when it equals the present state.
    virtual void setPaused(bool paused) = 0;
    // Starts learning one press on `device`, or refuses in the journal.
    virtual void listen(DeviceMatch device) = 0;
    // Ends an armed listen at the user's request.
    virtual void stopListening() = 0;
    // Puts every device back as it was before the program touched it, releases held keys,
    // removes the event tap and waits (boundedly) for busy devices; then runs `done` once, on
    // the engine's executor. It does so also when the engine never ran (a quit during start-up).
    virtual void shutdown(std::function<void()> done) = 0;
};

}  // namespace tindlewave
