#include "Runtime/Worlds/ProgramWorld.h"

#include "Runtime/Worlds/LinuxWorld.h"
#include "Runtime/Worlds/SimulatedWorld.h"

namespace tindlewave {

ProgramWorld ProgramWorld::simulated(Executor& hid, Executor& tap, std::string hidutilState,
                                     KeyMapHost hidutil) {
    ProgramWorld world;
    world.simulated_ = std::make_unique<SimulatedWorld>(hid, tap, std::move(hidutilState), std::move(hidutil));
    return world;
}

ProgramWorld ProgramWorld::real(Executor&, Executor& tap, WorkPool* pool) {
    ProgramWorld world;
    world.real_ = std::make_unique<LinuxWorld>(tap, pool);
    return world;
}

ProgramWorld::ProgramWorld(ProgramWorld&&) noexcept = default;
ProgramWorld::~ProgramWorld() = default;

HIDSystem& ProgramWorld::hidSystem() const {
    if (simulated_) return simulated_->hid;
    return real_->hid;
}

EventSystem& ProgramWorld::events() const {
    if (simulated_) return simulated_->events;
    return real_->events;
}

PermissionGrants& ProgramWorld::grants() const {
    if (simulated_) return simulated_->grants;
    return real_->grants;
}

const SymbolicHotKeys& ProgramWorld::hotKeys() const {
    if (simulated_) return simulated_->hotKeys;
    return real_->hotKeys;
}

LoginItemService& ProgramWorld::loginItem() const {
    if (simulated_) return simulated_->loginItem;
    return real_->loginItem;
}

KeyMapHost ProgramWorld::keyMap() const {
    if (simulated_) return simulated_->hidutil;
    return real_->keyMapHost();
}

}  // namespace tindlewave
