#include "Runtime/ActionPerformer.h"

#include <cassert>
#include <string>

#include "Core/Keys/HeldKeys.h"
#include "Platform/EventSystem.h"
#include "Platform/Executor.h"
#include "Platform/SymbolicHotKeys.h"
#include "Runtime/Worlds/WorldTexts.h"

namespace tindlewave {

namespace {

constexpr std::uint16_t noKey = 0xFFFF;

Event keyEvent(EventType type, std::uint16_t keyCode, std::uint64_t flags) {
    Event event;
    event.type = type;
    event.flags = flags;
    event.setInteger(IntegerField::keyCode, keyCode);
    event.mark();
    return event;
}

}  // namespace

ActionPerformer::ActionPerformer(EventSystem& events, const SymbolicHotKeys& hotKeys,
                                 Executor& executor, Logger log)
    : events_(events), hotKeys_(hotKeys), executor_(executor), log_(std::move(log)) {}

void ActionPerformer::perform(const Action& action) {
    assert(executor_.isCurrent());
    if (const auto* shortcut = as<Action::Shortcut>(action)) {
        const std::uint64_t flags = quartzFlags(shortcut->chord.modifiers);
        const std::uint16_t key = shortcut->chord.key.rawValue;
        events_.post(keyEvent(EventType::keyDown, key, flags), EventLevel::hid);
        events_.post(keyEvent(EventType::keyUp, key, flags), EventLevel::hid);
    } else if (const auto* modifier = as<Action::Modifier>(action)) {
        const std::uint16_t key = virtualKeyCode(modifier->modifier);
        events_.post(keyEvent(EventType::flagsChanged, key, eventFlags(modifier->modifier)),
                     EventLevel::hid);
        events_.post(keyEvent(EventType::flagsChanged, key, 0), EventLevel::hid);
    } else if (const auto* system = as<Action::System>(action)) {
        this->system(system->action);
    } else {
        const char* text = is<Action::Reverse>(action) ? "reverse" : "scroll";
        log_.log(LogLevel::fault, std::string(text) + " is not a button action");
    }
}

void ActionPerformer::system(SystemAction action) {
    if (!hotKeys_.isAvailable()) {
        log_.log(LogLevel::error, "symbolic hotkeys are unavailable on this system");
        return;
    }
    const std::uint16_t number = rawValue(action);
    const auto value = hotKeys_.value(number);
    if (value && hotKeys_.isEnabled(number) && value->keyCode != noKey) {
        events_.post(keyEvent(EventType::keyDown, value->keyCode, value->flags),
                     EventLevel::session);
        events_.post(keyEvent(EventType::keyUp, value->keyCode, value->flags),
                     EventLevel::session);
        return;
    }
    // Over Linux devices the desktop's own settings hold the shortcut, under the action's Linux name.
    if (worldTexts() == WorldTexts::linuxDevices) {
        log_.log(LogLevel::defaultLevel, systemActionName(action) + " has no enabled shortcut on this desktop");
        return;
    }
    log_.log(LogLevel::defaultLevel,
             std::string(toText(action)) + " has no enabled shortcut in System Settings");
}

}  // namespace tindlewave
