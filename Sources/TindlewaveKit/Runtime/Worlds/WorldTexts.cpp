#include "Runtime/Worlds/WorldTexts.h"

#include <atomic>

namespace tindlewave {

namespace {
std::atomic<WorldTexts> current{WorldTexts::simulated};
}

void setWorldTexts(WorldTexts texts) { current.store(texts); }

WorldTexts worldTexts() { return current.load(); }

std::string systemActionName(SystemAction action) {
    const bool onLinux = worldTexts() == WorldTexts::linuxDevices;
    switch (action) {
        case SystemAction::missionControl: return onLinux ? "Overview" : "Mission Control";
        case SystemAction::appExpose: return onLinux ? "Windows of the App" : "App Exposé";
        case SystemAction::spaceLeft: return onLinux ? "Workspace to the left" : "Space to the left";
        case SystemAction::spaceRight: return onLinux ? "Workspace to the right" : "Space to the right";
    }
    return {};
}

}  // namespace tindlewave
