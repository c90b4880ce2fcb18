#pragma once

#include <cstdint>

#include "Core/Evdev/FrameEvents.h"
#include "Core/Evdev/ModifierKeys.h"

namespace tindlewave {

// The modifier keys on the program's own keyboard device. Flags have no place in a Linux key
// event, so the flags the program wants the desktop to see become key presses there:
// - held: modifiers the program holds for a while (a posted flag change, a tapped event whose
//   flags the taps changed, such as the hyper key's four), which count in the session's flags;
// - for a posted key, exactly the key's own flags are pressed (missing ones pressed, the
//   program's extras released) around it, and the held set comes back after its up; these never
//   count in the session's flags.
// A modifier that a real keyboard holds is never pressed or released here.
class VirtualKeyboardState {
  public:
    ModifierKeys held() const { return held_; }
    // The flag bits the program holds, as they were asked for: the session's flags show these
    // (a generic bit alone stays alone, so taking it away again lets the keys go).
    std::uint64_t heldFlags() const { return heldFlags_; }
    // What is down on the device now (held, or pressed for a posted key).
    ModifierKeys down() const { return down_; }

    // The flags went from `before` to `after`: appends the presses and releases (each change a
    // frame of its own) that make the held modifiers follow.
    void follow(std::uint64_t before, std::uint64_t after, ModifierKeys onDevices, timeval time,
                CodeList& out);
    // A posted key down or up: its modifiers, the key, and after an up the held set again.
    void key(const Event& event, ModifierKeys onDevices, timeval time, CodeList& out);
    // Everything the device holds let go (the program stops writing).
    void releaseAll(timeval time, CodeList& out);

  private:
    void moveTo(ModifierKeys target, timeval time, CodeList& out);

    ModifierKeys held_;
    ModifierKeys down_;
    std::uint64_t heldFlags_ = 0;
};

// One wheel axis of the program's posted scrolling, in high-resolution units (120 to a detent):
// whole units go out at once and their fraction is kept; a low-resolution step goes out each
// time the running sum has moved a whole detent from where the last step left it.
class WheelAxis {
  public:
    struct Step {
        std::int32_t hiRes = 0;
        std::int32_t detents = 0;
    };
    Step add(double hiRes);

  private:
    double fraction_ = 0;
    std::int64_t sinceDetent_ = 0;
};

// A posted wheel event as codes: high-resolution values of both axes through the program's
// running sums, with the detents they cross. Points become high-resolution units at 3 a point
// (120 for the 40 points the default speed curve gives a slow notch).
void appendPostedWheel(const Event& event, WheelAxis& vertical, WheelAxis& horizontal,
                       timeval time, CodeList& out);

}  // namespace tindlewave
