#include "Platform/Linux/Input/ProgramOutput.h"

#include <time.h>

#include <chrono>
#include <utility>

#include <fmt/format.h>

#include "Platform/Clock.h"

namespace tindlewave {

namespace {

// How often the announcement is looked for, and how many posts wait for it at most (far more
// than a shortcut's keys): more are written out with what waits.
constexpr double lookSeconds = 0.01;
constexpr std::size_t maxHeldPosts = 256;

timeval nowStamp() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return {t.tv_sec, t.tv_nsec / 1000};
}

bool hasMotion(std::span<const input_event> codes) {
    for (const input_event& c : codes) {
        if (c.type == EV_REL && (c.code == REL_X || c.code == REL_Y)) return true;
    }
    return false;
}

bool same(const std::weak_ptr<const UinputDevice>& remembered, const SharedDevice& device) {
    return !remembered.owner_before(device) && !device.owner_before(remembered);
}

}  // namespace

ProgramOutput::ProgramOutput(Executor& input, StallWatchdog& watchdog, OwnDevices::Options options,
                             double lateSeconds)
    : input_(input),
      journal_(options.journal),
      writer_(lateSeconds),
      devices_(input, watchdog, std::move(options)) {}

// Whether the devices are announced is looked at here too, not only at a post here, so that
// postNow finds it.
bool ProgramOutput::ensure() {
    std::lock_guard lock(mutex_);
    const bool made = devices_.ensure();
    devices_.announced();
    return made;
}

void ProgramOutput::adopt(UinputDevice keyboard, UinputDevice pointer) {
    std::lock_guard lock(mutex_);
    devices_.adopt(std::move(keyboard), std::move(pointer));
    devices_.announced();
}

void ProgramOutput::setUdevAnnounces(bool announces) {
    std::lock_guard lock(mutex_);
    devices_.setUdevAnnounces(announces);
}

std::uint64_t ProgramOutput::heldFlags() const {
    std::lock_guard lock(mutex_);
    return keyboard_.heldFlags();
}

void ProgramOutput::devicesChanged(ModifierKeys down, bool capsLock) {
    std::lock_guard lock(mutex_);
    devicesDown_ = down;
    capsLock_ = capsLock;
    publishFlags();
}

void ProgramOutput::publishFlags() {
    flags_.store(devicesDown_.flags(capsLock_) | keyboard_.heldFlags(), std::memory_order_relaxed);
}

// Frames.

void ProgramOutput::passThrough(const SharedDevice& mirror, std::span<const input_event> codes) {
    if (!associated() && hasMotion(codes)) {
        withoutMotion(codes, out_);
        writer_.write(mirror, out_.data(), out_.size());
    } else {
        writer_.write(mirror, codes.data(), codes.size());
    }
}

void ProgramOutput::wheeled(const SharedDevice& mirror, bool highResolution) {
    std::lock_guard lock(mutex_);
    if (highResolution) lastWheel_ = mirror;
    else lastWheel_.reset();
}

void ProgramOutput::swallowed(std::int64_t button, const SharedDevice& mirror) {
    std::lock_guard lock(mutex_);
    if (button >= 0 && button < static_cast<std::int64_t>(swallowedFrom_.size()))
        swallowedFrom_[static_cast<std::size_t>(button)] = mirror;
}

void ProgramOutput::forget(const SharedDevice& mirror) {
    if (!mirror) return;
    std::lock_guard lock(mutex_);
    for (auto& from : swallowedFrom_) {
        if (same(from, mirror)) from.reset();
    }
    if (same(lastWheel_, mirror)) lastWheel_.reset();
}

void ProgramOutput::frame(const SharedDevice& mirror, std::span<const input_event> codes,
                          const FrameEventList& events) {
    std::lock_guard lock(mutex_);
    // Flags the taps changed become modifier keys on the program's keyboard, before the codes.
    keyboardOut_.clear();
    const timeval time = codes.back().time;
    for (const FrameEvent& entry : events) {
        if (entry.passes && entry.event.flags != entry.made.flags)
            keyboard_.follow(entry.made.flags, entry.event.flags, devicesDown_, time, keyboardOut_);
    }
    writer_.write(devices_.keyboard(), keyboardOut_.data(), keyboardOut_.size());
    rebuildFrame(codes, events, associated(), out_);
    writer_.write(mirror, out_.data(), out_.size());
    publishFlags();
}

// Posts.

void ProgramOutput::post(const Event& event) {
    std::lock_guard lock(mutex_);
    if (!devices_.ensure()) return;
    if (held_.empty() && devices_.announced()) return writeOut(event);
    if (held_.empty()) heldSince_ = input_.clock().now();
    held_.push_back(event);
    if (held_.size() <= maxHeldPosts) return lookForAnnouncement();
    // Too much waits: all of it goes out now, in order, rather than any of it being lost.
    if (journal_) {
        journal_(fmt::format("more than {} posts waited for the desktop to take up the program's "
                             "keyboard and pointer: writing them without waiting further",
                             maxHeldPosts));
    }
    devices_.takeAsAnnounced();
    writeHeld();
}

bool ProgramOutput::postNow(const Event& event) {
    std::lock_guard lock(mutex_);
    if (!held_.empty() || !devices_.keyboard() || !devices_.pointer() || !devices_.isAnnounced()) return false;
    writeOut(event);
    return true;
}

void ProgramOutput::dropHeld() {
    std::lock_guard lock(mutex_);
    held_.clear();
}

void ProgramOutput::heard(const std::string& sysname) {
    std::lock_guard lock(mutex_);
    devices_.heard(sysname);
    if (devices_.announced() && !held_.empty()) writeHeld();
}

void ProgramOutput::lookForAnnouncement() {
    if (looking_) return;
    looking_ = true;
    look_ = input_.schedule(input_.clock().now() + std::chrono::duration_cast<Duration>(
                                                       std::chrono::duration<double>(lookSeconds)),
                            [this] {
                                std::lock_guard lock(mutex_);
                                looking_ = false;
                                if (held_.empty()) return;
                                if (devices_.announced()) writeHeld();
                                if (!held_.empty()) lookForAnnouncement();
                            });
}

void ProgramOutput::writeHeld() {
    // In the order posted; should the devices be made anew meanwhile, the rest waits again.
    std::size_t written = 0;
    while (written < held_.size() && devices_.ensure() && devices_.isAnnounced()) writeOut(held_[written++]);
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(written));
    if (written == 0 || !held_.empty() || !journal_) return;
    const auto waited = std::chrono::duration<double>(input_.clock().now() - heldSince_).count();
    journal_(fmt::format("posted what waited {:.2f} s for the desktop to take up the program's keyboard "
                         "and pointer ({} events)",
                         waited, written));
}

void ProgramOutput::writeOut(const Event& event) {
    const timeval time = nowStamp();
    postOut_.clear();
    // An event that comes to no code (a scroll frame smaller than the wheel's least step, a
    // flag change to the flags already held) writes nothing at all.
    switch (event.type) {
        case EventType::keyDown:
        case EventType::keyUp:
            keyboard_.key(event, devicesDown_, time, postOut_);
            writer_.write(devices_.keyboard(), postOut_.data(), postOut_.size());
            break;
        case EventType::flagsChanged:
            keyboard_.follow(flags(), event.flags, devicesDown_, time, postOut_);
            writer_.write(devices_.keyboard(), postOut_.data(), postOut_.size());
            break;
        case EventType::scrollWheel: {
            // To the wheel that scrolled last, so its own settings (natural scrolling) apply.
            const SharedDevice wheel = lastWheel_.lock();
            appendPostedWheel(event, vertical_, horizontal_, time, postOut_);
            writer_.write(wheel ? wheel : devices_.pointer(), postOut_.data(), postOut_.size());
            break;
        }
        default: {
            SharedDevice target;
            if (isMouseButton(event.type)) {
                // A swallowed press and what replays it belong to the mouse it came from.
                const auto n = event.integer(IntegerField::buttonNumber);
                if (n >= 0 && n < static_cast<std::int64_t>(swallowedFrom_.size())) {
                    auto& from = swallowedFrom_[static_cast<std::size_t>(n)];
                    target = from.lock();
                    if (isMouseButtonUp(event.type)) from.reset();
                }
            }
            appendCodes(event, time, associated(), postOut_);
            if (postOut_.empty()) return;
            input_event syn{};
            syn.time = time;
            postOut_.push_back(syn);
            writer_.write(target ? target : devices_.pointer(), postOut_.data(), postOut_.size());
            break;
        }
    }
    publishFlags();
}

void ProgramOutput::letGo() {
    std::lock_guard lock(mutex_);
    devices_.close();
    keyboard_ = {};
    swallowedFrom_ = {};
    lastWheel_.reset();
    publishFlags();
}

void ProgramOutput::stop() {
    // What was handed over is written, then each device goes with its last holder.
    {
        std::lock_guard lock(mutex_);
        devices_.close();
    }
    writer_.stop();
}

}  // namespace tindlewave
