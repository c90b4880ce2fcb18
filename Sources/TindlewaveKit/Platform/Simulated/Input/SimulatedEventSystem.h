#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "Core/RingQueue.h"
#include "Platform/EventSystem.h"
#include "Platform/TapTable.h"

namespace tindlewave {

class PermissionGrants;

// The desktop's event stream in memory, for tests and the headless program: they inject input
// events, the taps see them in order, and what passes is recorded as what applications would
// get. Every post is recorded with its level.
//
// Injected events and HID-level posts are dispatched as jobs of the input executor given at
// construction (taps can only be attached there): through every valid, enabled, attached tap whose
// mask holds the type, head-inserted taps newest first, then tail-appended ones oldest first,
// until one drops the event; what passes lands in `delivered`. Session-level posts skip the taps
// and land there at once. The records of what was delivered and posted (and of the association
// calls) keep the latest `recordLimit` entries each, so a long session's memory stays bounded. The cursor follows delivered mouse movement unless it was dissociated
// (applications then see the frozen position), and the session flags follow delivered
// flags-changed events only (a key down or up never changes them, whatever flags it carries). Making a tap fails without the Accessibility grant.
//
// The tap table belongs to the input executor: the tap functions and the tap fault switches'
// effects run there. Everything else is thread-safe.
class SimulatedEventSystem final : public EventSystem {
  public:
    struct Posted {
        Event event;
        EventLevel level = EventLevel::hid;
        bool operator==(const Posted&) const = default;
    };

    // How the system lets a tap's owner know that it disabled the tap.
    enum class DisableNotice { timeout, userInput, silent };

    // The most entries each record keeps; the oldest go first.
    static constexpr std::size_t recordLimit = 4096;

    // Starts with one 1920×1080 screen (display 1, 60 Hz) and the cursor in its middle.
    SimulatedEventSystem(Executor& input, PermissionGrants& grants);
    ~SimulatedEventSystem() override;
    SimulatedEventSystem(const SimulatedEventSystem&) = delete;
    SimulatedEventSystem& operator=(const SimulatedEventSystem&) = delete;

    std::optional<TapPort> createTap(const TapSpec& spec, TapCallback callback) override;
    bool attach(TapPort port, Executor& executor) override;
    void detach(TapPort port) override;
    void enable(TapPort port, bool enabled) override;
    bool isEnabled(TapPort port) const override;
    bool isValid(TapPort port) const override;
    void invalidate(TapPort port) override;
    void post(const Event& event, EventLevel level) override;
    std::uint64_t flagsState() const override;
    Event::Location cursorLocation() const override;
    void associateMouseAndCursor(bool associated) override;
    std::optional<DisplayID> displayAt(Event::Location point) const override;
    std::vector<Screen> screens() const override;
    bool isRefreshing(DisplayID display) const override;

    // Input from a device: dispatched as a job of the input executor. Callable from any thread.
    void inject(const Event& event, std::optional<HIDOrigin> origin = std::nullopt);
    // Runs one event through the taps now; on the input executor only. The event as applications
    // received it, or none when a tap dropped it.
    std::optional<Event> dispatch(const Event& event, const std::optional<HIDOrigin>& origin);

    // What applications received, and the posts, oldest first (the latest `recordLimit` each).
    std::vector<Event> delivered() const;
    std::vector<Posted> posted() const;
    void clearLogs();
    // The association calls, in order (true: the cursor follows the mouse again).
    std::vector<bool> associationCalls() const;
    bool isCursorAssociated() const;
    // Valid taps; on the input executor.
    std::size_t tapCount() const;

    // The world.
    void setScreens(std::vector<Screen> screens);
    // Moves the pointer (for instance onto another display), as a device would.
    void moveCursor(Event::Location to);

    // Fault switches.
    void setFailsTapCreation(bool fails);
    // The system disables the tap and tells its callback (or not); the effect is a job of the
    // input executor.
    void disableTap(TapPort port, DisableNotice notice);
    // The system invalidates the tap; a job of the input executor.
    void invalidateTap(TapPort port);
    // The display stops (false) or resumes (true) delivering frames.
    void setRefreshing(DisplayID display, bool refreshing);

  private:
    const Event& deliverLocked(const Event& event);
    // Runs `job` on the input executor unless this system is gone by then.
    void later(std::function<void()> job);

    Executor& input_;
    PermissionGrants& grants_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    TapTable taps_;  // input executor only

    mutable std::mutex mutex_;
    RingQueue<Event> delivered_;
    RingQueue<Posted> posted_;
    RingQueue<bool> associationCalls_;
    bool associated_ = true;
    std::uint64_t flags_ = 0;
    Event::Location cursor_{960, 540};
    std::vector<Screen> screens_;
    std::set<DisplayID> stalled_;
    bool failsTapCreation_ = false;
};

}  // namespace tindlewave
