#pragma once

#include <linux/input.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "Core/Evdev/FrameEvents.h"
#include "Core/Evdev/ModifierKeys.h"
#include "Core/Evdev/VirtualKeyboardState.h"
#include "Core/Instant.h"
#include "Core/Tap/Event.h"
#include "Platform/Executor.h"
#include "Platform/Linux/Input/DeviceWriter.h"
#include "Platform/Linux/Input/OwnDevices.h"

namespace tindlewave {

class StallWatchdog;

// Everything the program writes, and what it must remember to write it: the device writer, the
// program's own keyboard and pointer (OwnDevices) with the posts held until they are announced,
// what the program's keyboard holds (VirtualKeyboardState), the running sums of posted wheels,
// the mirror a swallowed button's down came from, the mirror of the wheel that scrolled last,
// and the session's flags made of these and of what the nodes have down.
//
// Both the frames of the grabbed nodes and the program's posts come here; nothing here calls
// back into its caller. A frame's modifiers for the program's keyboard are handed to the writer
// before the frame itself; posts go out in the order given, held ones first. On the input
// executor unless said; a post that may be written at once (postNow) on any thread, so what it
// reads is kept under a lock, taken briefly and never across anything but the writer's hand-over.
class ProgramOutput {
  public:
    ProgramOutput(Executor& input, StallWatchdog& watchdog, OwnDevices::Options options, double lateSeconds);
    ProgramOutput(const ProgramOutput&) = delete;
    ProgramOutput& operator=(const ProgramOutput&) = delete;

    // The session's flags: the modifiers down on the nodes, Caps Lock's light, and what the
    // program's keyboard holds. Any thread.
    std::uint64_t flags() const { return flags_.load(std::memory_order_relaxed); }
    // Whether motion reaches the desktop (the cursor follows the mouse). Any thread.
    bool associated() const { return associated_.load(std::memory_order_relaxed); }
    void associate(bool associated) { associated_.store(associated, std::memory_order_relaxed); }

    // The program's devices, for the mirrors kept and closed through them and the looks at
    // them (input executor), and the writer.
    OwnDevices& devices() { return devices_; }
    const OwnDevices& devices() const { return devices_; }
    DeviceWriter& writer() { return writer_; }
    // The program's keyboard and pointer made, given, and whether udev announces them (OwnDevices).
    bool ensure();
    void adopt(UinputDevice keyboard, UinputDevice pointer);
    void setUdevAnnounces(bool announces);

    // What the nodes have down now, and Caps Lock's light: the flags are made anew.
    void devicesChanged(ModifierKeys down, bool capsLock);
    // The flags the program's keyboard holds.
    std::uint64_t heldFlags() const;

    // A frame no tap sees, to its mirror as it came (without motion while dissociated).
    void passThrough(const SharedDevice& mirror, std::span<const input_event> codes);
    // The wheel of `mirror` scrolled: posted wheels go there while it has high resolution.
    void wheeled(const SharedDevice& mirror, bool highResolution);
    // A tap swallowed the down of `button` from `mirror`: its replay and up go there.
    void swallowed(std::int64_t button, const SharedDevice& mirror);
    // `mirror` is closed: nothing posted goes there any more.
    void forget(const SharedDevice& mirror);
    // A frame through the taps: the modifiers they changed on the program's keyboard, then the
    // frame as they answered to its mirror.
    void frame(const SharedDevice& mirror, std::span<const input_event> codes, const FrameEventList& events);

    // A post: written now, or held in order until the program's devices have been announced.
    void post(const Event& event);
    // Any thread: writes the post now, where nothing is held and both devices are there and
    // announced; false (nothing done) otherwise.
    bool postNow(const Event& event);
    // udev's "add" of the event node of the input device `sysname`: what is held may go out.
    void heard(const std::string& sysname);
    // Forgets the posts held (nothing of ours is written for another session).
    void dropHeld();
    // The program's devices destroyed (the kernel lets go of what they hold) and what they held
    // forgotten; what is held stays held.
    void letGo();
    // Writes what was handed over and ends the writer, after the program's devices go.
    void stop();

  private:
    void writeOut(const Event& event);
    void writeHeld();
    void lookForAnnouncement();
    void publishFlags();

    Executor& input_;
    const std::function<void(const std::string& line)> journal_;
    // Over everything below that a post reads or writes, for postNow's sake; the input executor
    // changes these only under it (and reads them without it).
    mutable std::mutex mutex_;
    std::atomic<std::uint64_t> flags_{0};
    std::atomic<bool> associated_{true};
    ModifierKeys devicesDown_;
    bool capsLock_ = false;

    // Writes every device of the program's, in order (watched by the watchdog; it holds a device
    // until its codes are written, and lets go before the watchdog goes).
    DeviceWriter writer_;
    OwnDevices devices_;

    VirtualKeyboardState keyboard_;
    WheelAxis vertical_;
    WheelAxis horizontal_;
    std::array<std::weak_ptr<const UinputDevice>, 8> swallowedFrom_;  // by button
    std::weak_ptr<const UinputDevice> lastWheel_;                     // with high resolution
    CodeList out_;
    CodeList keyboardOut_;
    CodeList postOut_;

    // Posts held, in order, until udev has announced both devices (a desktop opens them only
    // then), since `heldSince_`.
    std::vector<Event> held_;
    Instant heldSince_{};
    bool looking_ = false;
    TimerHandle look_;
};

}  // namespace tindlewave
