#include "Core/Evdev/FrameEvents.h"

#include <cmath>

#include "Core/Evdev/EvdevKeys.h"

namespace tindlewave {

namespace {

EventType moveType(std::uint8_t buttons) {
    if (buttons == 0) return EventType::mouseMoved;
    if ((buttons & 1) != 0) return EventType::leftMouseDragged;
    if ((buttons & 2) != 0) return EventType::rightMouseDragged;
    return EventType::otherMouseDragged;
}

int lowestButton(std::uint8_t buttons) {
    for (int n = 0; n < 8; ++n) {
        if ((buttons >> n) & 1) return n;
    }
    return -1;
}

EventType buttonType(int number, bool down) {
    if (number == 0) return down ? EventType::leftMouseDown : EventType::leftMouseUp;
    if (number == 1) return down ? EventType::rightMouseDown : EventType::rightMouseUp;
    return down ? EventType::otherMouseDown : EventType::otherMouseUp;
}

bool isMotion(const input_event& code) {
    return code.type == EV_REL && (code.code == REL_X || code.code == REL_Y);
}

bool isWheel(const input_event& code) {
    return code.type == EV_REL && (code.code == REL_WHEEL || code.code == REL_HWHEEL ||
                                   code.code == REL_WHEEL_HI_RES || code.code == REL_HWHEEL_HI_RES);
}

bool offWholeDetent(const input_event& code) {
    return code.type == EV_REL && (code.code == REL_WHEEL_HI_RES || code.code == REL_HWHEEL_HI_RES) &&
           code.value % 120 != 0;
}

// Whether the taps changed more than the event's flags (which travel as modifier keys).
bool changedBeyondFlags(const FrameEvent& entry) {
    Event same = entry.event;
    same.flags = entry.made.flags;
    return !(same == entry.made);
}

input_event code(timeval time, std::uint16_t type, std::uint16_t number, std::int32_t value) {
    input_event made{};
    made.time = time;
    made.type = type;
    made.code = number;
    made.value = value;
    return made;
}

std::int32_t clamped(double value) {
    if (!(value > -2147483648.0)) return value != value ? 0 : INT32_MIN;
    if (!(value < 2147483647.0)) return INT32_MAX;
    return static_cast<std::int32_t>(std::lround(value));
}

}  // namespace

std::uint64_t EvdevNodeState::types(std::span<const input_event> frame) const {
    std::uint64_t mask = 0;
    for (const input_event& c : frame) {
        if (c.type == EV_REL) {
            if (isMotion(c)) mask |= eventMaskBit(moveType(buttons_));
            else if (isWheel(c)) mask |= eventMaskBit(EventType::scrollWheel);
        } else if (c.type == EV_KEY && c.value != 2) {
            if (int n = buttonNumber(c.code); n >= 0) {
                mask |= eventMaskBit(buttonType(n, c.value != 0));
            } else if (evdevkeys::keyCode(c.code)) {
                if (evdevkeys::modifier(c.code)) mask |= eventMaskBit(EventType::flagsChanged);
                else mask |= eventMaskBit(c.value == 0 ? EventType::keyUp : EventType::keyDown);
            }
        } else if (c.type == EV_KEY && evdevkeys::keyCode(c.code) && !evdevkeys::modifier(c.code)) {
            mask |= eventMaskBit(EventType::keyDown);  // an autorepeat
        }
    }
    return mask;
}

void EvdevNodeState::translate(std::span<const input_event> frame, const FrameContext& context,
                               FrameEventList& out) const {
    ModifierKeys modifiers = modifiers_;
    auto flagsNow = [&] {
        return (context.otherModifiers | modifiers).flags(context.capsLock) | context.heldFlags;
    };
    auto made = [&](EventType type) {
        FrameEvent entry;
        entry.event.type = type;
        entry.event.flags = flagsNow();
        entry.event.location = context.cursor;
        return entry;
    };

    // Motion and wheels first: each is one event for the whole frame.
    std::int64_t dx = 0, dy = 0;
    std::int64_t wheel = 0, hwheel = 0, hiWheel = 0, hiHwheel = 0;
    bool hasHi = false, hasHhi = false, offDetent = false;
    std::uint64_t motionCodes = 0, wheelCodes = 0;
    const std::size_t count = frame.size() < 64 ? frame.size() : 64;
    for (std::size_t i = 0; i < count; ++i) {
        const input_event& c = frame[i];
        if (c.type != EV_REL) continue;
        const std::uint64_t bit = std::uint64_t{1} << i;
        switch (c.code) {
            case REL_X: dx += c.value; motionCodes |= bit; break;
            case REL_Y: dy += c.value; motionCodes |= bit; break;
            case REL_WHEEL: wheel += c.value; wheelCodes |= bit; break;
            case REL_HWHEEL: hwheel += c.value; wheelCodes |= bit; break;
            case REL_WHEEL_HI_RES: hiWheel += c.value; hasHi = true; wheelCodes |= bit; break;
            case REL_HWHEEL_HI_RES: hiHwheel += c.value; hasHhi = true; wheelCodes |= bit; break;
            default: break;
        }
        offDetent = offDetent || offWholeDetent(c);
    }
    if (motionCodes != 0) {
        FrameEvent entry = made(moveType(buttons_));
        entry.event.setInteger(IntegerField::deltaX, dx);
        entry.event.setInteger(IntegerField::deltaY, dy);
        if (buttons_ != 0) entry.event.setInteger(IntegerField::buttonNumber, lowestButton(buttons_));
        entry.codes = motionCodes;
        entry.made = entry.event;
        out.push_back(entry);
    }

    std::uint64_t scan = 0;  // an MSC_SCAN waiting for its key
    for (std::size_t i = 0; i < count && !out.full(); ++i) {
        const input_event& c = frame[i];
        const std::uint64_t bit = std::uint64_t{1} << i;
        if (c.type == EV_MSC && c.code == MSC_SCAN) {
            scan = bit;
            continue;
        }
        if (c.type != EV_KEY) continue;
        const std::uint64_t codes = bit | scan;
        scan = 0;
        if (int n = buttonNumber(c.code); n >= 0) {
            if (c.value == 2) continue;
            FrameEvent entry = made(buttonType(n, c.value != 0));
            entry.event.setInteger(IntegerField::buttonNumber, n);
            entry.codes = codes;
            entry.made = entry.event;
            out.push_back(entry);
            continue;
        }
        const auto key = evdevkeys::keyCode(c.code);
        if (!key) continue;
        FrameEvent entry;
        if (auto modifier = evdevkeys::modifier(c.code)) {
            if (c.value == 2) continue;
            modifiers.set(*modifier, c.value != 0);
            entry = made(EventType::flagsChanged);
        } else {
            entry = made(c.value == 0 ? EventType::keyUp : EventType::keyDown);
            if (c.value == 2) entry.event.setInteger(IntegerField::autorepeat, 1);
        }
        entry.event.setInteger(IntegerField::keyCode, key->rawValue);
        entry.codes = codes;
        entry.made = entry.event;
        out.push_back(entry);
    }

    if (wheelCodes != 0 && !out.full()) {
        FrameEvent entry = made(EventType::scrollWheel);
        const double vertical = static_cast<double>(hasHi ? hiWheel : wheel * 120) / 120.0;
        const double horizontal = static_cast<double>(hasHhi ? hiHwheel : hwheel * 120) / 120.0;
        entry.event.setInteger(IntegerField::scrollDelta1, wheel);
        entry.event.setInteger(IntegerField::scrollDelta2, -hwheel);
        entry.event.setFixedPoint(FixedPointField::scrollFixedDelta1, vertical);
        entry.event.setFixedPoint(FixedPointField::scrollFixedDelta2, -horizontal);
        entry.event.setInteger(IntegerField::scrollIsContinuous, continuous_ || offDetent ? 1 : 0);
        entry.wheelDetents = vertical;
        entry.codes = wheelCodes;
        entry.made = entry.event;
        out.push_back(entry);
    }
}

void EvdevNodeState::commit(std::span<const input_event> frame) {
    for (const input_event& c : frame) {
        if (c.type == EV_KEY && c.value != 2) {
            if (c.code < keys_.size()) keys_[c.code] = c.value != 0;
            if (int n = buttonNumber(c.code); n >= 0) {
                const auto bit = static_cast<std::uint8_t>(1u << n);
                buttons_ = static_cast<std::uint8_t>(c.value != 0 ? buttons_ | bit : buttons_ & ~bit);
            } else if (auto modifier = evdevkeys::modifier(c.code)) {
                modifiers_.set(*modifier, c.value != 0);
            }
        } else if (c.type == EV_LED && c.code < leds_.size()) {
            leds_[c.code] = c.value != 0;
        } else if (offWholeDetent(c)) {
            continuous_ = true;
        }
    }
}

void EvdevNodeState::catchUp(const std::bitset<KEY_CNT>& keys, const std::bitset<LED_CNT>& leds,
                             timeval time, std::vector<InputFrame>& out) const {
    const std::size_t first = out.size();
    auto one = [&](std::uint16_t type, std::size_t number, bool on) {
        const auto made = code(time, type, static_cast<std::uint16_t>(number), on ? 1 : 0);
        if (type == EV_LED && out.size() > first && out.back()[0].type == EV_LED) {
            out.back().push(made);  // the lights share one frame
            return;
        }
        out.emplace_back().push(made);
    };
    for (std::size_t n = 0; n < keys.size(); ++n) {
        if (keys_[n] && !keys[n]) one(EV_KEY, n, false);
    }
    for (std::size_t n = 0; n < keys.size(); ++n) {
        if (!keys_[n] && keys[n]) one(EV_KEY, n, true);
    }
    for (std::size_t n = 0; n < leds.size(); ++n) {
        if (leds_[n] != leds[n]) one(EV_LED, n, leds[n]);
    }
    for (std::size_t i = first; i < out.size(); ++i) out[i].push(code(time, EV_SYN, SYN_REPORT, 0));
}

void appendCodes(const Event& event, timeval time, bool forwardMotion, CodeList& out) {
    switch (event.type) {
        case EventType::mouseMoved:
        case EventType::leftMouseDragged:
        case EventType::rightMouseDragged:
        case EventType::otherMouseDragged: {
            if (!forwardMotion) return;
            const auto dx = event.integer(IntegerField::deltaX);
            const auto dy = event.integer(IntegerField::deltaY);
            if (dx != 0) out.push_back(code(time, EV_REL, REL_X, clamped(static_cast<double>(dx))));
            if (dy != 0) out.push_back(code(time, EV_REL, REL_Y, clamped(static_cast<double>(dy))));
            return;
        }
        case EventType::leftMouseDown:
        case EventType::rightMouseDown:
        case EventType::otherMouseDown:
        case EventType::leftMouseUp:
        case EventType::rightMouseUp:
        case EventType::otherMouseUp: {
            const auto n = event.integer(IntegerField::buttonNumber);
            if (n < 0 || n > 7) return;
            const int down = isMouseButtonDown(event.type) ? 1 : 0;
            out.push_back(code(time, EV_KEY, static_cast<std::uint16_t>(BTN_LEFT + n), down));
            return;
        }
        case EventType::scrollWheel: {
            const auto wheel = event.integer(IntegerField::scrollDelta1);
            const auto hwheel = -event.integer(IntegerField::scrollDelta2);
            double hi = event.fixedPoint(FixedPointField::scrollFixedDelta1) * 120;
            double hhi = -event.fixedPoint(FixedPointField::scrollFixedDelta2) * 120;
            if (hi == 0) hi = static_cast<double>(wheel) * 120;
            if (hhi == 0) hhi = static_cast<double>(hwheel) * 120;
            if (wheel != 0) out.push_back(code(time, EV_REL, REL_WHEEL, clamped(static_cast<double>(wheel))));
            if (clamped(hi) != 0) out.push_back(code(time, EV_REL, REL_WHEEL_HI_RES, clamped(hi)));
            if (hwheel != 0) out.push_back(code(time, EV_REL, REL_HWHEEL, clamped(static_cast<double>(hwheel))));
            if (clamped(hhi) != 0) out.push_back(code(time, EV_REL, REL_HWHEEL_HI_RES, clamped(hhi)));
            return;
        }
        case EventType::keyDown:
        case EventType::keyUp: {
            const auto key = event.integer(IntegerField::keyCode);
            if (key < 0 || key > 0xFFFF) return;
            const auto evdev = evdevkeys::evdevCode(KeyCode{static_cast<std::uint16_t>(key)});
            if (!evdev) return;
            const std::int32_t value = event.type == EventType::keyUp                 ? 0
                                       : event.integer(IntegerField::autorepeat) != 0 ? 2
                                                                                      : 1;
            out.push_back(code(time, EV_KEY, *evdev, value));
            return;
        }
        default:
            return;
    }
}

void rebuildFrame(std::span<const input_event> frame, const FrameEventList& events,
                  bool forwardMotion, CodeList& out) {
    out.clear();
    if (frame.empty()) return;
    std::uint64_t owned = 0;
    std::uint64_t kept = 0;
    for (const FrameEvent& entry : events) {
        owned |= entry.codes;
        if (entry.passes && !changedBeyondFlags(entry)) kept |= entry.codes;
    }
    const std::size_t last = frame.size() - 1;
    for (std::size_t i = 0; i < last; ++i) {
        const std::uint64_t bit = i < 64 ? std::uint64_t{1} << i : 0;
        if ((owned & bit) != 0 && (kept & bit) == 0) continue;
        if (!forwardMotion && isMotion(frame[i])) continue;
        out.push_back(frame[i]);
    }
    for (const FrameEvent& entry : events) {
        if (entry.passes && changedBeyondFlags(entry))
            appendCodes(entry.event, frame[last].time, forwardMotion, out);
    }
    if (out.empty()) return;
    out.push_back(frame[last]);
}

void withoutMotion(std::span<const input_event> frame, CodeList& out) {
    out.clear();
    if (frame.empty()) return;
    const std::size_t last = frame.size() - 1;
    for (std::size_t i = 0; i < last; ++i) {
        if (!isMotion(frame[i])) out.push_back(frame[i]);
    }
    if (out.empty()) return;
    out.push_back(frame[last]);
}

}  // namespace tindlewave
