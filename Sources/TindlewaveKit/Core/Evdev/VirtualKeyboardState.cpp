#include "Core/Evdev/VirtualKeyboardState.h"

#include <cmath>

#include "Core/Evdev/EvdevKeys.h"

namespace tindlewave {

namespace {

void push(CodeList& out, timeval time, std::uint16_t type, std::uint16_t number, std::int32_t value) {
    input_event made{};
    made.time = time;
    made.type = type;
    made.code = number;
    made.value = value;
    out.push_back(made);
}

void sync(CodeList& out, timeval time) { push(out, time, EV_SYN, SYN_REPORT, 0); }

constexpr double hiResPerPoint = 3.0;

// The side and generic bits of the eight modifiers.
constexpr std::uint64_t modifierBits = 0x1E207F;

}  // namespace

void VirtualKeyboardState::moveTo(ModifierKeys target, timeval time, CodeList& out) {
    if (target == down_) return;
    for (HeldModifier m : allCases<HeldModifier>()) {
        if (target.contains(m) == down_.contains(m)) continue;
        push(out, time, EV_KEY, evdevkeys::evdevCode(m), target.contains(m) ? 1 : 0);
    }
    sync(out, time);
    down_ = target;
}

void VirtualKeyboardState::follow(std::uint64_t before, std::uint64_t after, ModifierKeys onDevices,
                                  timeval time, CodeList& out) {
    const ModifierKeys was = ModifierKeys::forFlags(before);
    const ModifierKeys now = ModifierKeys::forFlags(after);
    ModifierKeys held = held_;
    held = held | now.without(was).without(onDevices);
    held = held.without(was.without(now));
    held_ = held;
    heldFlags_ = (heldFlags_ | (after & ~before & modifierBits)) & ~(before & ~after);
    moveTo(held_, time, out);
}

void VirtualKeyboardState::key(const Event& event, ModifierKeys onDevices, timeval time,
                               CodeList& out) {
    const auto keyCode = event.integer(IntegerField::keyCode);
    if (keyCode < 0 || keyCode > 0xFFFF) return;
    const auto code = evdevkeys::evdevCode(KeyCode{static_cast<std::uint16_t>(keyCode)});
    if (!code) return;
    if (event.type == EventType::keyDown) {
        moveTo(ModifierKeys::forFlags(event.flags).without(onDevices), time, out);
        push(out, time, EV_KEY, *code, event.integer(IntegerField::autorepeat) != 0 ? 2 : 1);
        sync(out, time);
    } else if (event.type == EventType::keyUp) {
        push(out, time, EV_KEY, *code, 0);
        sync(out, time);
        moveTo(held_, time, out);
    }
}

void VirtualKeyboardState::releaseAll(timeval time, CodeList& out) {
    held_ = {};
    heldFlags_ = 0;
    moveTo({}, time, out);
}

WheelAxis::Step WheelAxis::add(double hiRes) {
    if (!std::isfinite(hiRes)) return {};
    const double total = fraction_ + hiRes;
    const double whole = std::trunc(total);
    if (!(std::fabs(whole) < 1e9)) {
        fraction_ = 0;
        return {};
    }
    fraction_ = total - whole;
    Step step;
    step.hiRes = static_cast<std::int32_t>(whole);
    sinceDetent_ += step.hiRes;
    while (sinceDetent_ >= 120) {
        sinceDetent_ -= 120;
        ++step.detents;
    }
    while (sinceDetent_ <= -120) {
        sinceDetent_ += 120;
        --step.detents;
    }
    return step;
}

void appendPostedWheel(const Event& event, WheelAxis& vertical, WheelAxis& horizontal,
                       timeval time, CodeList& out) {
    auto points = [&](FixedPointField fixed, IntegerField whole) {
        const double value = event.fixedPoint(fixed);
        return value != 0 ? value * 10.0 : static_cast<double>(event.integer(whole));
    };
    const auto v = vertical.add(
        points(FixedPointField::scrollFixedDelta1, IntegerField::scrollDelta1) * hiResPerPoint);
    const auto h = horizontal.add(
        -points(FixedPointField::scrollFixedDelta2, IntegerField::scrollDelta2) * hiResPerPoint);
    const std::size_t before = out.size();
    if (v.detents != 0) push(out, time, EV_REL, REL_WHEEL, v.detents);
    if (v.hiRes != 0) push(out, time, EV_REL, REL_WHEEL_HI_RES, v.hiRes);
    if (h.detents != 0) push(out, time, EV_REL, REL_HWHEEL, h.detents);
    if (h.hiRes != 0) push(out, time, EV_REL, REL_HWHEEL_HI_RES, h.hiRes);
    if (out.size() != before) sync(out, time);
}

}  // namespace tindlewave
