#pragma once

#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

#include "Core/Gestures/ControlBehavior.h"
#include "Core/Devices/DeviceIDs.h"
#include "Core/Devices/DeviceIdentity.h"
#include "Core/HIDPP/Setup.h"
#include "Core/Keys/KeyRoutes.h"
#include "Core/Listening/Listener.h"
#include "Core/Tap/TapRules.h"
#include "Model/Config.h"
#include "Model/Rule.h"

namespace tindlewave {

// One device's share of the compiled settings.
struct DeviceSetup {
    KeyMapSetup keyMap;               // the key routes to write as the keyboard's remapping
    std::optional<HIDPPSetup> hidpp;  // absent: not a HID++ device, or no HID++ rule
    bool discoverHIDPP = false;       // the slot must run HID++ discovery on the device

    // No routes, no HID++ set-up, no discovery: what a device without an entry gets.
    static const DeviceSetup& neutral();

    bool operator==(const DeviceSetup&) const = default;
};

// The whole desired state of the program for a configuration and the connected devices.
struct Intent {
    std::map<DeviceInstanceID, DeviceSetup> setups;  // one per connected device with a profile
    TapRules tap;                                    // the event tap's share
    std::map<DeviceInstanceID, std::vector<Rule>> skipped;  // rules that cannot be served
    std::optional<ListenPlan> listening;  // set while listening on a device with a set-up

    // No set-ups, empty tap rules, nothing skipped, no listening: the engine's starting intent
    // and the intent while paused.
    static const Intent& neutral();

    // Compiles a configuration for the connected devices (in the engine's order, which is the
    // order of the tap's carrier routes). Pure: equal inputs give equal intents.
    // `paused`: the user paused the program or it is quitting. `tapAvailable`: the event tap can
    // run. `listening`: the armed listen request, if any.
    static Intent compile(const Config& config, bool paused, bool tapAvailable,
                          const std::vector<PresentDevice>& present,
                          const std::optional<ListenTarget>& listening);

    bool operator==(const Intent&) const = default;

  private:
    // The carrier key of every distinct action of a click rule on a key, from the pool of
    // carriers, in profile and rule order; actions past the pool's end get none.
    static std::unordered_map<Action, Carrier> clickCarriers(const Config& config);
    // One behaviour per plain mouse button number that the profile has rules for.
    static std::map<std::int64_t, ControlBehavior> plainButtons(const DeviceProfile& profile);
    // Rewrites the intent for listening on the target device.
    void listen(const ListenTarget& target, const std::vector<PresentDevice>& present,
                bool tapAvailable);
};

}  // namespace tindlewave
