// LinuxEventSystem: opening, mirroring and grabbing nodes (each grab's phases are a NodeGrab),
// their frames, and what follows the watchdog's release.

#include <fcntl.h>
#include <linux/input.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "Core/Evdev/EvdevKeys.h"
#include "Platform/Clock.h"
#include "Platform/Linux/Input/LinuxEventSystemState.h"

namespace tindlewave {

namespace {

using Node = LinuxEventSystem::State::Node;

Duration seconds(double s) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}

bool hasMotion(std::span<const input_event> codes) {
    for (const input_event& c : codes) {
        if (c.type == EV_REL && (c.code == REL_X || c.code == REL_Y)) return true;
    }
    return false;
}

// How often a new mirror's announcement is looked for.
constexpr double announceLookSeconds = 0.01;

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

LinuxEventSystem::State::Node* LinuxEventSystem::State::find(SenderID id) {
    for (auto& node : nodes) {
        if (node->info.id == id) return node.get();
    }
    return nullptr;
}

bool LinuxEventSystem::State::isOwnSysname(const std::string& sysname) const {
    if (sysname.empty()) return false;
    if (own.isOwn(sysname)) return true;
    return std::any_of(nodes.begin(), nodes.end(), [&](const auto& node) {
        return node->mirror && node->mirror->sysname() == sysname;
    });
}

bool LinuxEventSystem::State::wantsGrabs() const {
    return taps.activeMask() != 0 && sessionActive && !watchdog.isSuspended();
}

void LinuxEventSystem::State::refreshGrabs() {
    if (dispatching > 0) {  // after the frame or post in progress
        refreshOwed = true;
        return;
    }
    refreshOwed = false;
    const bool want = wantsGrabs();
    // A look drops a node that went away (unplugged while settling): walk the ids as they are now.
    std::vector<SenderID> ids;
    ids.reserve(nodes.size());
    for (const auto& node : nodes) ids.push_back(node->info.id);
    for (SenderID id : ids) {
        Node* node = find(id);
        if (!node) continue;
        switch (node->grab.refresh(want, node->retry.isArmed())) {
            case NodeGrab::Step::open: start(*node); break;
            case NodeGrab::Step::look: tryGrab(*node); break;
            case NodeGrab::Step::close: stop(*node); break;
            case NodeGrab::Step::none: break;
        }
    }
    if (!want) busy.clear();
}

void LinuxEventSystem::State::start(Node& node) {
    if (!fds) return;  // nothing could read it
    int fd = ::open(node.info.devnode.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) fd = ::open(node.info.devnode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;  // gone, or not ours to read: it stays closed
    auto described = evdev::describe(fd);
    auto* description = std::get_if<InputDescription>(&described);
    if (!description) {
        ::close(fd);
        return;
    }
    if (description->phys.starts_with(ownPhysPrefix)) {
        ::close(fd);
        node.grab.ownDevice();
        return;
    }
    InputDescription mirrored = tindlewave::mirrorOf(*description);
    // The key map may route this keyboard's scan codes to keys its descriptor lacks (F13 and up
    // on many): the kernel drops a key its device does not have, so the mirror has them all.
    if (node.info.kind == EventNodeInfo::Kind::keyboard) {
        for (std::uint16_t code : evdevkeys::routableCodes()) mirrored.add(EV_KEY, code);
    }
    auto mirror = UinputDevice::create(options.uinputPath.c_str(), mirrored);
    auto* device = std::get_if<UinputDevice>(&mirror);
    if (!device) {
        ::close(fd);
        return;
    }
    node.fd = fd;
    node.description = std::move(*description);
    own.keep(node.mirror, std::move(*device));
    node.mirrorHeardAt.reset();  // its "add" comes as a later job of this executor
    node.keyboard = node.description.has(EV_LED, LED_CAPSL);
    node.grab.opened();
    if (node.keyboard) {
        if (auto on = evdev::ledOn(fd, LED_CAPSL)) capsLock = *on;
        // The desktop's LED writes to the mirror are the real keyboard's.
        Node* target = &node;
        node.mirrorWatch = fds->addFd(node.mirror->fd(), EPOLLIN, [this, target](std::uint32_t) {
            forwardLeds(*target);
        });
    }
    // Looked at once the executor comes round: the desktop takes up the new mirror before its
    // node goes quiet.
    Node* target = &node;
    node.retry = input.schedule(input.clock().now(), [this, target] { tryGrab(*target); });
}

void LinuxEventSystem::State::tryGrab(Node& node) {
    node.retry.cancel();
    if (!node.grab.mayLook(wantsGrabs())) return;
    Node* target = &node;
    auto later = [&](double s) {
        node.retry = input.schedule(input.clock().now() + seconds(s), [this, target] { tryGrab(*target); });
    };
    if (node.grab.waitsForMirror()) {
        const Instant now = input.clock().now();
        // However long udev takes: the node is not grabbed meanwhile, so nothing is lost. Once
        // its "add" has come, only the desktop's moment to open the mirror is left to wait.
        if (node.grab.mirrorLooked(own.desktopHas(*node.mirror, node.mirrorHeardAt, now)) == NodeGrab::Next::later)
            return later(announceLookSeconds);
    }
    auto down = evdev::keysDown(node.fd);
    const auto* error = std::get_if<SystemError>(&down);
    const auto* keys = std::get_if<std::vector<std::uint16_t>>(&down);
    switch (node.grab.keysLooked(error ? error->code : 0, keys && !keys->empty())) {
        case NodeGrab::Next::gone: return drop(node.info.id);
        case NodeGrab::Next::later: return later(options.settleSeconds);
        case NodeGrab::Next::grab: break;
        default: return;
    }
    // Through the watchdog, which refuses while its release has not been taken in (the stall's
    // handling, already on its way, looks again).
    const timeval grabbedAt = realtimeNow();
    const std::optional<int> answer = watchdog.grab(node.fd);
    if (!answer) return;
    switch (node.grab.grabAnswered(*answer)) {
        case NodeGrab::Next::gone: return drop(node.info.id);
        case NodeGrab::Next::later: return later(options.busySeconds);
        case NodeGrab::Next::busy:
            stop(node);
            busy.push_back(node.info.devnode);
            return;
        default: break;
    }
    const std::vector<input_event> caught = caughtSince(node.fd, grabbedAt);
    auto downNow = evdev::keysDown(node.fd);
    if (auto* gone = std::get_if<SystemError>(&downNow); gone && gone->code == ENODEV) return drop(node.info.id);
    const auto* keysNow = std::get_if<std::vector<std::uint16_t>>(&downNow);
    if (node.grab.grabChecked(keysNow && keyDownBeforeGrab(*keysNow, caught)) == NodeGrab::Next::later) {
        // A key went down between the look and the grab: let go, and give what the grab caught
        // back to the node, so that every reader has it as if it had never been grabbed (to the
        // mirror where the node cannot be written).
        watchdog.ungrab(node.fd);
        if (!caught.empty()) {
            const auto bytes = static_cast<ssize_t>(caught.size() * sizeof(input_event));
            if (::write(node.fd, caught.data(), static_cast<std::size_t>(bytes)) != bytes)
                node.mirror->write(caught.data(), caught.size());
        }
        return later(options.settleSeconds);
    }
    node.assembler = {};
    node.state = {};
    node.drops = 0;
    node.watch = fds->addFd(node.fd, EPOLLIN, [this, target](std::uint32_t) { readable(*target); });
    updateFlags();
    consume(node, caught);  // what came since the grab reached nobody else
}

void LinuxEventSystem::State::stop(Node& node) {
    node.retry.cancel();
    node.watch.cancel();
    node.mirrorWatch.cancel();
    tellDrops(node);
    if (node.fd >= 0) {
        if (node.grab.isGrabbed()) watchdog.ungrab(node.fd);
        ::close(node.fd);
        node.fd = -1;
    }
    // The kernel releases whatever the mirror still holds.
    own.close(node.mirror);
    node.mirrorHeardAt.reset();
    node.state = {};
    node.grab.closed();
    updateFlags();
}

void LinuxEventSystem::State::drop(SenderID id) {
    auto found = std::find_if(nodes.begin(), nodes.end(), [&](const auto& n) { return n->info.id == id; });
    if (found == nodes.end()) return;
    stop(**found);
    for (auto& from : swallowedFrom) {
        if (from == id) from.reset();
    }
    if (lastWheel == id) lastWheel.reset();
    std::erase(busy, (*found)->info.devnode);
    nodes.erase(found);
    updateFlags();
}

// Frames.

void LinuxEventSystem::State::readable(Node& node) {
    if (watchdog.released()) return handleStall();
    readFrames(node);
    watchdog.beat();  // what the node held was taken
}

void LinuxEventSystem::State::readFrames(Node& node) {
    input_event buffer[64];
    for (int reads = 0; reads < 8 && node.grab.isGrabbed(); ++reads) {
        const ssize_t n = ::read(node.fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == ENODEV) drop(node.info.id);
            return;
        }
        if (n == 0) return;
        consume(node, std::span<const input_event>(buffer, static_cast<std::size_t>(n) / sizeof(input_event)));
        if (static_cast<std::size_t>(n) < sizeof buffer) return;
    }
}

void LinuxEventSystem::State::consume(Node& node, std::span<const input_event> codes) {
    for (std::size_t i = 0; i < codes.size() && node.grab.isGrabbed(); ++i) {
        switch (node.assembler.add(codes[i])) {
            case FrameAssembler::Step::more:
                break;
            case FrameAssembler::Step::frame:
                process(node, node.assembler.frame());
                break;
            case FrameAssembler::Step::resync:
                // The rest came after the lost codes: the node's state, read now, has it.
                return resync(node, codes[i].time);
        }
    }
}

void LinuxEventSystem::State::process(Node& node, const InputFrame& frame) {
    const std::span<const input_event> codes = frame.codes();
    const std::uint64_t types = node.state.types(codes);
    const bool forwardMotion = owner.associated_.load(std::memory_order_relaxed);
    if ((types & taps.activeMask()) == 0) {
        // No tap sees any of it: straight to the mirror, as it came.
        const ModifierKeys before = node.state.modifiers();
        node.state.commit(codes);
        if ((types & eventMaskBit(EventType::scrollWheel)) != 0) lastWheel = node.info.id;
        if (!forwardMotion && hasMotion(codes)) {
            withoutMotion(codes, out);
            if (!out.empty()) node.mirror->write(out.data(), out.size());
        } else {
            node.mirror->write(codes.data(), codes.size());
        }
        if (!(before == node.state.modifiers())) updateFlags();
        return;
    }

    FrameContext context;
    for (const auto& other : nodes) {
        if (other.get() != &node) context.otherModifiers = context.otherModifiers | other->state.modifiers();
    }
    context.heldFlags = keyboardState.heldFlags();
    context.capsLock = capsLock;
    context.cursor = owner.cursorLocation();
    events.clear();
    node.state.translate(codes, context, events);
    node.state.commit(codes);
    updateFlags();

    ++dispatching;
    for (FrameEvent& entry : events) {
        entry.passes = taps.dispatch(entry.event, HIDOrigin{node.info.id, entry.wheelDetents});
        if (!entry.passes && isMouseButtonDown(entry.made.type)) {
            const auto n = entry.made.integer(IntegerField::buttonNumber);
            if (n >= 0 && n < 8) swallowedFrom[static_cast<std::size_t>(n)] = node.info.id;
        }
        if (entry.made.type == EventType::scrollWheel) lastWheel = node.info.id;
    }
    --dispatching;

    // Flags the taps changed become modifier keys on the program's keyboard, before the codes.
    keyboardOut.clear();
    const timeval time = codes.back().time;
    for (const FrameEvent& entry : events) {
        if (entry.passes && entry.event.flags != entry.made.flags)
            keyboardState.follow(entry.made.flags, entry.event.flags, deviceModifiers(), time, keyboardOut);
    }
    if (!keyboardOut.empty() && own.keyboard()) own.keyboard()->write(keyboardOut.data(), keyboardOut.size());
    rebuildFrame(codes, events, forwardMotion, out);
    if (!out.empty() && node.mirror) node.mirror->write(out.data(), out.size());
    updateFlags();
    if (refreshOwed) refreshGrabs();
}

void LinuxEventSystem::State::resync(Node& node, timeval time) {
    ++node.drops;
    // What the node still holds came after the lost codes: it is read and left, and the node's
    // state read next has it (reading the keys and lights also takes their codes still queued
    // off this descriptor's queue). Told from there, nothing comes out of the node's order.
    input_event buffer[64];
    for (int reads = 0; reads < 64; ++reads) {
        const ssize_t n = ::read(node.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < static_cast<ssize_t>(sizeof buffer)) break;
    }
    node.assembler = {};
    auto down = evdev::keysDown(node.fd);
    auto* keys = std::get_if<std::vector<std::uint16_t>>(&down);
    if (!keys) return;
    std::bitset<KEY_CNT> keysNow;
    for (std::uint16_t code : *keys) {
        if (code < keysNow.size()) keysNow.set(code);
    }
    std::bitset<LED_CNT> ledsNow = node.state.leds();
    if (node.description.has(EV_LED)) {
        auto on = evdev::ledsOn(node.fd);
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
    std::vector<InputFrame> frames;
    node.state.catchUp(keysNow, ledsNow, time, frames);
    for (const InputFrame& frame : frames) {
        if (!node.grab.isGrabbed()) break;
        process(node, frame);
    }
    updateFlags();
}

void LinuxEventSystem::State::tellDrops(Node& node) {
    if (node.drops > 0 && options.journal) {
        options.journal(fmt::format("{} ({}) overflowed {} time{} while grabbed: what it sent meanwhile "
                                    "was lost, and its keys were taken up where the node had them",
                                    node.info.devnode, node.description.name, node.drops,
                                    node.drops == 1 ? "" : "s"));
    }
    node.drops = 0;
}

void LinuxEventSystem::State::forwardLeds(Node& node) {
    input_event buffer[16];
    const ssize_t n = ::read(node.mirror->fd(), buffer, sizeof buffer);
    if (n <= 0) return;
    out.clear();
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof(input_event); ++i) {
        if (buffer[i].type != EV_LED) continue;
        out.push_back(buffer[i]);
        if (buffer[i].code == LED_CAPSL) capsLock = buffer[i].value != 0;
    }
    if (out.empty()) return;
    out.push_back(input_event{buffer[0].time, EV_SYN, SYN_REPORT, 0});
    const auto bytes = out.size() * sizeof(input_event);
    if (::write(node.fd, out.data(), bytes) != static_cast<ssize_t>(bytes)) {
        // A keyboard opened read-only keeps its lights; nothing else depends on them.
    }
    updateFlags();
}

ModifierKeys LinuxEventSystem::State::deviceModifiers() const {
    ModifierKeys down;
    for (const auto& node : nodes) down = down | node->state.modifiers();
    return down;
}

void LinuxEventSystem::State::updateFlags() {
    owner.flags_.store(deviceModifiers().flags(capsLock) | keyboardState.heldFlags(),
                       std::memory_order_relaxed);
}

// The watchdog's release: it let go of every grab when a grabbed node's input was not read
// within stallSeconds (or at a suspension), and what follows runs here.

void LinuxEventSystem::State::handleStall() {
    if (!watchdog.takeRelease()) return;
    // Taken in once resumed, a suspension's release is still none of the taps'.
    const bool suspension = suspended.exchange(false) || watchdog.isSuspended();
    // The watchdog destroyed the mirrors and the program's keyboard and pointer, so nothing
    // stayed down on them, and ended every grab. Each open node starts over (a new mirror once
    // taps want it again: the desktop had its input meanwhile, none of it is ours to forward),
    // and the program's own devices are made anew at once.
    for (auto& node : nodes) {
        if (node->grab.isOpen()) stop(*node);  // closes, never drops
    }
    own.close();
    keyboardState = {};
    swallowedFrom = {};
    lastWheel.reset();
    if (sessionActive) own.ensure();
    // A stall is the taps' time-out; a suspension (the process stops) is none of theirs: once
    // resumed, the nodes are taken up again for the taps as they are.
    if (!suspension) {
        ++dispatching;
        taps.disableAll(EventType::tapDisabledByTimeout);
        --dispatching;
    }
    refreshGrabs();
    updateFlags();
}

}  // namespace tindlewave
