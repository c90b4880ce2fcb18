#include "Platform/Linux/Input/GrabbedNode.h"

#include <fcntl.h>
#include <unistd.h>

#include <bitset>
#include <cerrno>

#include <fmt/format.h>

#include "Core/Evdev/EvdevKeys.h"
#include "Platform/Linux/Input/OwnDevices.h"
#include "Platform/Linux/Input/StallWatchdog.h"

namespace tindlewave {

namespace {

timeval realtimeNow() {
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);  // the clock evdev stamps events with by default
    return {t.tv_sec, t.tv_nsec / 1000};
}

bool stampedBefore(const timeval& a, const timeval& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_usec < b.tv_usec);
}

// Reads what the node holds: what came before `grabbedAt` reached the desktop and is dropped,
// what came since reached nobody and is kept.
std::vector<input_event> caughtSince(int fd, const timeval& grabbedAt) {
    std::vector<input_event> caught;
    input_event buffer[64];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof(input_event); ++i) {
            if (!stampedBefore(buffer[i].time, grabbedAt)) caught.push_back(buffer[i]);
        }
    }
    return caught;
}

// Whether a key went down before the grab: down now, or going up or repeating in what the grab
// caught, with no down caught before that.
bool keyDownBeforeGrab(const std::vector<std::uint16_t>& downNow, std::span<const input_event> caught) {
    auto firstCaught = [&](std::uint16_t code) -> const input_event* {
        for (const input_event& c : caught) {
            if (c.type == EV_KEY && c.code == code) return &c;
        }
        return nullptr;
    };
    for (std::uint16_t code : downNow) {
        const input_event* first = firstCaught(code);
        if (!first || first->value != 1) return true;
    }
    for (const input_event& c : caught) {
        if (c.type == EV_KEY && firstCaught(c.code)->value != 1) return true;
    }
    return false;
}

}  // namespace

bool GrabbedNode::open(const std::string& uinputPath, OwnDevices& own, bool& capsLock) {
    UniqueFd fd(::open(info_.devnode.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd.isOpen() && errno == EACCES) fd.reset(::open(info_.devnode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.isOpen()) return false;  // gone, or not ours to read: it stays closed
    auto described = evdev::describe(fd.get());
    auto* description = std::get_if<InputDescription>(&described);
    if (!description) return false;
    if (description->phys.starts_with(ownPhysPrefix)) {
        grab_.ownDevice();
        return false;
    }
    InputDescription mirrored = tindlewave::mirrorOf(*description);
    // The key map may route this keyboard's scan codes to keys its descriptor lacks (F13 and up
    // on many): the kernel drops a key its device does not have, so the mirror has them all.
    if (info_.kind == EventNodeInfo::Kind::keyboard) {
        for (std::uint16_t code : evdevkeys::routableCodes()) mirrored.add(EV_KEY, code);
    }
    auto mirror = UinputDevice::create(uinputPath.c_str(), mirrored);
    auto* device = std::get_if<UinputDevice>(&mirror);
    if (!device) return false;
    fd_ = std::move(fd);
    description_ = std::move(*description);
    own.keep(mirror_, std::move(*device));
    mirrorHeardAt.reset();  // its "add" comes as a later job of the input executor
    keyboard_ = description_.has(EV_LED, LED_CAPSL);
    grab_.opened();
    if (keyboard_) {
        if (auto on = evdev::ledOn(fd_.get(), LED_CAPSL)) capsLock = *on;
    }
    return true;
}

void GrabbedNode::adopt(UniqueFd fd, InputDescription description, OwnDevices& own, UinputDevice mirror) {
    fd_ = std::move(fd);
    description_ = std::move(description);
    own.keep(mirror_, std::move(mirror));
    grab_.adoptGrabbed();
}

GrabbedNode::Taken GrabbedNode::takeGrab(StallWatchdog& watchdog, DeviceWriter& writer,
                                         std::vector<input_event>& caught) {
    // Through the watchdog, which refuses while its release has not been taken in.
    const timeval grabbedAt = realtimeNow();
    const std::optional<int> answer = watchdog.grab(fd_.get());
    if (!answer) return Taken::deferred;
    switch (grab_.grabAnswered(*answer)) {
        case NodeGrab::Next::gone: return Taken::gone;
        case NodeGrab::Next::later: return Taken::refused;
        case NodeGrab::Next::busy: return Taken::busy;
        default: break;
    }
    caught = caughtSince(fd_.get(), grabbedAt);
    auto downNow = evdev::keysDown(fd_.get());
    if (auto* gone = std::get_if<SystemError>(&downNow); gone && gone->code == ENODEV) return Taken::gone;
    const auto* keysNow = std::get_if<std::vector<std::uint16_t>>(&downNow);
    if (grab_.grabChecked(keysNow && keyDownBeforeGrab(*keysNow, caught)) == NodeGrab::Next::later) {
        // Its up must reach the desktop from the node, as its down did.
        watchdog.ungrab(fd_.get());
        if (!caught.empty()) {
            const auto bytes = static_cast<ssize_t>(caught.size() * sizeof(input_event));
            if (::write(fd_.get(), caught.data(), static_cast<std::size_t>(bytes)) != bytes)
                writer.write(mirror_, caught.data(), caught.size());
        }
        caught.clear();
        return Taken::letGo;
    }
    assembler_ = {};
    state_ = {};
    drops_ = 0;
    return Taken::grabbed;
}

void GrabbedNode::close(StallWatchdog& watchdog, OwnDevices& own,
                        const std::function<void(const std::string&)>& journal) {
    retry.cancel();
    watch.cancel();
    mirrorWatch.cancel();
    tellDrops(journal);
    if (fd_.isOpen()) {
        if (grab_.isGrabbed()) watchdog.ungrab(fd_.get());  // before the descriptor closes
        fd_.reset();
    }
    // The kernel releases whatever the mirror still holds.
    own.close(mirror_);
    mirrorHeardAt.reset();
    state_ = {};
    grab_.closed();
}

GrabbedNode::Read GrabbedNode::read(Frames& frames) {
    input_event buffer[64];
    for (int reads = 0; reads < 8 && grab_.isGrabbed(); ++reads) {
        const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == ENODEV ? Read::gone : Read::done;
        }
        if (n == 0) return Read::done;
        consume(std::span<const input_event>(buffer, static_cast<std::size_t>(n) / sizeof(input_event)), frames);
        if (static_cast<std::size_t>(n) < sizeof buffer) return Read::done;
    }
    return Read::done;
}

void GrabbedNode::consume(std::span<const input_event> codes, Frames& frames) {
    for (std::size_t i = 0; i < codes.size() && grab_.isGrabbed(); ++i) {
        switch (assembler_.add(codes[i])) {
            case FrameAssembler::Step::more:
                break;
            case FrameAssembler::Step::frame:
                frames.frame(*this, assembler_.frame());
                break;
            case FrameAssembler::Step::resync:
                // The rest came after the lost codes: the node's state, read now, has it.
                return resync(codes[i].time, frames);
        }
    }
}

void GrabbedNode::resync(timeval time, Frames& frames) {
    ++drops_;
    // What the node still holds came after the lost codes: it is read and left, and the node's
    // state read next has it (reading the keys and lights also takes their codes still queued
    // off this descriptor's queue). Told from there, nothing comes out of the node's order.
    input_event buffer[64];
    for (int reads = 0; reads < 64; ++reads) {
        const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < static_cast<ssize_t>(sizeof buffer)) break;
    }
    assembler_ = {};
    auto down = evdev::keysDown(fd_.get());
    auto* keys = std::get_if<std::vector<std::uint16_t>>(&down);
    if (!keys) return;
    std::bitset<KEY_CNT> keysNow;
    for (std::uint16_t code : *keys) {
        if (code < keysNow.size()) keysNow.set(code);
    }
    std::bitset<LED_CNT> ledsNow = state_.leds();
    if (description_.has(EV_LED)) {
        auto on = evdev::ledsOn(fd_.get());
        if (auto* leds = std::get_if<std::vector<std::uint16_t>>(&on)) {
            ledsNow.reset();
            for (std::uint16_t code : *leds) {
                if (code < ledsNow.size()) ledsNow.set(code);
            }
        }
    }
    // What changed meanwhile is told now as frames of its own, through the taps like any other:
    // ups for keys now up, then downs for keys now down, then the lights. Nothing the node let go
    // of stays down on its mirror, whatever key it is.
    std::vector<InputFrame> caughtUp;
    state_.catchUp(keysNow, ledsNow, time, caughtUp);
    for (const InputFrame& frame : caughtUp) {
        if (!grab_.isGrabbed()) break;
        frames.frame(*this, frame);
    }
}

void GrabbedNode::tellDrops(const std::function<void(const std::string&)>& journal) {
    if (drops_ > 0 && journal) {
        journal(fmt::format("{} ({}) overflowed {} time{} while grabbed: what it sent meanwhile "
                            "was lost, and its keys were taken up where the node had them",
                            info_.devnode, description_.name, drops_, drops_ == 1 ? "" : "s"));
    }
    drops_ = 0;
}

std::optional<bool> GrabbedNode::forwardLeds() {
    input_event buffer[16];
    const ssize_t n = ::read(mirror_->fd(), buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    input_event leds[17];
    std::size_t count = 0;
    std::optional<bool> capsLock;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof(input_event); ++i) {
        if (buffer[i].type != EV_LED) continue;
        leds[count++] = buffer[i];
        if (buffer[i].code == LED_CAPSL) capsLock = buffer[i].value != 0;
    }
    if (count == 0) return std::nullopt;
    leds[count++] = input_event{buffer[0].time, EV_SYN, SYN_REPORT, 0};
    const auto bytes = count * sizeof(input_event);
    if (::write(fd_.get(), leds, bytes) != static_cast<ssize_t>(bytes)) {
        // A keyboard opened read-only keeps its lights; nothing else depends on them.
    }
    return capsLock;
}

}  // namespace tindlewave
