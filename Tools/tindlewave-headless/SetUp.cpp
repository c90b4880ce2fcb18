#include "SetUp.h"

#include "Runtime/Devices/Slot.h"
#include "Runtime/Engine/Engine.h"

namespace tindlewave::headless {

bool engineSetUp(const Engine& engine, const std::optional<Config>& expected) {
    if (!engine.isStarted() || !engine.config()) return false;
    if (expected && engine.config() != expected) return false;
    const auto& order = engine.sentTapOrder();
    if (!order || engine.tapState() != (order->install ? TapState::on : TapState::off)) return false;
    for (const auto& [id, setup] : engine.intent().setups) {
        const Slot* slot = engine.slot(id);
        if (slot == nullptr || slot->busy()) return false;
        const bool keyMap = !setup.keyMap.routes.empty();
        const bool hidpp = setup.hidpp.has_value() || setup.discoverHIDPP;
        if (hidpp && slot->session() == nullptr) return false;
        if ((keyMap || slot->session() != nullptr) && !slot->reapplied()) return false;
    }
    return true;
}

}  // namespace tindlewave::headless
