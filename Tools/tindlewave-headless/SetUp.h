#pragma once

#include <optional>

#include "Model/Config.h"

namespace tindlewave {
class Engine;
}

namespace tindlewave::headless {

// Whether the engine has everything it wants in place: `expected` in force (when given), the tap
// installed exactly when its order wants it, and every connected device with a profile (not one
// per profile: two mice of one model are two devices) settled with its key map in place when it
// routes keys, and its HID++ set-up applied when it has one. On the engine's HID executor.
bool engineSetUp(const Engine& engine, const std::optional<Config>& expected);

}  // namespace tindlewave::headless
