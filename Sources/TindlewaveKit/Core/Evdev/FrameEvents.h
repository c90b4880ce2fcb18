#pragma once

#include <bitset>
#include <cstdint>
#include <span>
#include <vector>

#include "Core/Evdev/InputFrame.h"
#include "Core/Evdev/ModifierKeys.h"
#include "Core/FixedList.h"
#include "Core/Tap/Event.h"

namespace tindlewave {

// One event made from a frame: the event as the taps get it, a copy of it as it was made, the
// frame's codes it stands for (bit i for code i) and, for the wheel, its detents.
struct FrameEvent {
    Event event;
    Event made;
    std::uint64_t codes = 0;
    double wheelDetents = 0;
    bool passes = true;  // the taps' answer
};

// At most one motion and one wheel event and a button or key event per code.
using FrameEventList = FixedList<FrameEvent, 20>;
// The codes written to one device for one frame, SYN_REPORT included.
using CodeList = FixedList<input_event, InputFrame::capacity + 16>;

// What the world around a node is while its frame is read.
struct FrameContext {
    ModifierKeys otherModifiers;  // held on every other keyboard
    std::uint64_t heldFlags = 0;  // the flags the program holds on its own keyboard
    bool capsLock = false;        // the Caps Lock light
    Event::Location cursor;
};

// What one event node has told so far (buttons and modifier keys down, whether its wheel is
// continuous), and how its frames become events. Button codes BTN_LEFT to BTN_TASK are the
// button numbers 0 to 7; relative motion is one move (or the drag of the lowest held button);
// the wheels of a frame, low and high resolution, are one wheel event; keys the program names are
// key downs (autorepeats marked) and ups, side modifiers flag changes. Other codes make no event.
class EvdevNodeState {
  public:
    // The event types the frame gives (their mask bits), without making the events.
    std::uint64_t types(std::span<const input_event> frame) const;
    // The events of the frame, in order: the motion, then buttons and keys as they come, then
    // the wheel. A key's MSC_SCAN belongs to the key after it.
    void translate(std::span<const input_event> frame, const FrameContext& context,
                   FrameEventList& out) const;
    // Takes the frame's effect: keys, buttons and modifier keys down, lights on, and the wheel's
    // continuity.
    void commit(std::span<const input_event> frame);
    // The frames that take what the node has told to what it holds now (`keys` down, `leds` on),
    // read once codes were lost: each key or button told down that is up now, then each one down
    // now that was not, a frame apiece from the lowest code, then one frame of the lights that
    // differ. Stamped `time`; the frames' commits bring this state there.
    void catchUp(const std::bitset<KEY_CNT>& keys, const std::bitset<LED_CNT>& leds, timeval time,
                 std::vector<InputFrame>& out) const;

    // Whether the node has told this key or button down (and not up since).
    bool isDown(std::uint16_t code) const { return code < keys_.size() && keys_[code]; }
    std::uint8_t buttons() const { return buttons_; }
    // The lights its frames have told on.
    const std::bitset<LED_CNT>& leds() const { return leds_; }
    ModifierKeys modifiers() const { return modifiers_; }

  private:
    std::bitset<KEY_CNT> keys_;
    std::bitset<LED_CNT> leds_;
    std::uint8_t buttons_ = 0;
    ModifierKeys modifiers_;
    // Once a node has sent a high-resolution wheel value that is no whole detent, its wheel
    // counts as continuous for good.
    bool continuous_ = false;
};

// The button number of an evdev button code; -1 for other codes.
constexpr int buttonNumber(std::uint16_t code) {
    return code >= BTN_LEFT && code <= BTN_TASK ? code - BTN_LEFT : -1;
}

// Appends the codes that say `event` (motion, a button, a wheel or a key) without the closing
// SYN_REPORT, stamped with `time`. A flag change gives none: flags travel as modifier keys.
void appendCodes(const Event& event, timeval time, bool forwardMotion, CodeList& out);

// The frame to write to a node's mirror once the taps answered: the codes of unchanged passing
// events (and of codes that made no event) as they came, the codes of changed ones made anew,
// none of swallowed ones; motion only when `forwardMotion`. Empty when nothing is left to write.
void rebuildFrame(std::span<const input_event> frame, const FrameEventList& events,
                  bool forwardMotion, CodeList& out);

// The frame without its motion codes (the cursor is dissociated): written without making events.
void withoutMotion(std::span<const input_event> frame, CodeList& out);

}  // namespace tindlewave
