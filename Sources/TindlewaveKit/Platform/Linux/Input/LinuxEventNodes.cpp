// LinuxEventSystem: when its nodes (each a GrabbedNode) are opened, grabbed and closed, what
// their frames do through the taps, and what follows the watchdog's release.

#include <linux/input.h>
#include <sys/epoll.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "Platform/Clock.h"
#include "Platform/Linux/Input/LinuxEventSystemState.h"

namespace tindlewave {

namespace {

using Node = LinuxEventSystem::State::Node;

Duration seconds(double s) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}

// How often a new mirror's announcement is looked for.
constexpr double announceLookSeconds = 0.01;

}  // namespace

LinuxEventSystem::State::Node* LinuxEventSystem::State::find(SenderID id) {
    for (auto& node : nodes) {
        if (node->info().id == id) return node.get();
    }
    return nullptr;
}

bool LinuxEventSystem::State::isOwnSysname(const std::string& sysname) const {
    if (sysname.empty()) return false;
    if (output.devices().isOwn(sysname)) return true;
    return std::any_of(nodes.begin(), nodes.end(), [&](const auto& node) {
        return node->mirror() && node->mirror()->sysname() == sysname;
    });
}

bool LinuxEventSystem::State::wantsGrabs() const {
    return taps.activeMask() != 0 && sessionActive && !watchdog.isSuspended();
}

void LinuxEventSystem::State::refreshGrabs() {
    tapTypes.store(taps.activeMask(), std::memory_order_release);
    if (dispatching > 0) {  // after the frame or post in progress
        refreshOwed = true;
        return;
    }
    refreshOwed = false;
    const bool want = wantsGrabs();
    // A look drops a node that went away (unplugged while settling): walk the ids as they are now.
    std::vector<SenderID> ids;
    ids.reserve(nodes.size());
    for (const auto& node : nodes) ids.push_back(node->info().id);
    for (SenderID id : ids) {
        Node* node = find(id);
        if (!node) continue;
        switch (node->grab().refresh(want, node->retry.isArmed())) {
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
    if (!node.open(options.uinputPath, output.devices(), capsLock)) return;
    Node* target = &node;
    if (node.isKeyboard()) {
        // The desktop's LED writes to the mirror are the real keyboard's.
        node.mirrorWatch = fds->addFd(node.mirror()->fd(), EPOLLIN, [this, target](std::uint32_t) {
            forwardLeds(*target);
        });
    }
    // Looked at once the executor comes round: the desktop takes up the new mirror before its
    // node goes quiet.
    node.retry = input.schedule(input.clock().now(), [this, target] { tryGrab(*target); });
}

void LinuxEventSystem::State::tryGrab(Node& node) {
    node.retry.cancel();
    if (!node.grab().mayLook(wantsGrabs())) return;
    Node* target = &node;
    auto later = [&](double s) {
        node.retry = input.schedule(input.clock().now() + seconds(s), [this, target] { tryGrab(*target); });
    };
    if (node.grab().waitsForMirror()) {
        const Instant now = input.clock().now();
        // However long udev takes: the node is not grabbed meanwhile, so nothing is lost. Once
        // its "add" has come, only the desktop's moment to open the mirror is left to wait.
        if (node.grab().mirrorLooked(output.devices().desktopHas(*node.mirror(), node.mirrorHeardAt, now)) == NodeGrab::Next::later)
            return later(announceLookSeconds);
    }
    auto down = evdev::keysDown(node.fd());
    const auto* error = std::get_if<SystemError>(&down);
    const auto* keys = std::get_if<std::vector<std::uint16_t>>(&down);
    switch (node.grab().keysLooked(error ? error->code : 0, keys && !keys->empty())) {
        case NodeGrab::Next::gone: return drop(node.info().id);
        case NodeGrab::Next::later: return later(options.settleSeconds);
        case NodeGrab::Next::grab: break;
        default: return;
    }
    std::vector<input_event> caught;
    switch (node.takeGrab(watchdog, output.writer(), caught)) {
        case Node::Taken::grabbed: break;
        case Node::Taken::refused: return later(options.busySeconds);
        case Node::Taken::letGo: return later(options.settleSeconds);
        case Node::Taken::busy:
            stop(node);
            busy.push_back(node.info().devnode);
            return;
        case Node::Taken::gone: return drop(node.info().id);
        case Node::Taken::deferred: return;  // the stall's handling, already on its way, looks again
    }
    node.watch = fds->addFd(node.fd(), EPOLLIN, [this, target](std::uint32_t) { readable(*target); });
    updateFlags();
    node.consume(caught, *this);  // what came since the grab reached nobody else
}

void LinuxEventSystem::State::stop(Node& node) {
    output.forget(node.mirror());
    node.close(watchdog, output.devices(), options.journal);
    updateFlags();
}

void LinuxEventSystem::State::drop(SenderID id) {
    auto found = std::find_if(nodes.begin(), nodes.end(), [&](const auto& n) { return n->info().id == id; });
    if (found == nodes.end()) return;
    stop(**found);
    std::erase(busy, (*found)->info().devnode);
    nodes.erase(found);
    updateFlags();
}

// Frames.

void LinuxEventSystem::State::readable(Node& node) {
    if (watchdog.released()) return handleStall();
    if (node.read(*this) == Node::Read::gone) drop(node.info().id);
    watchdog.beat();  // what the node held was taken
}

void LinuxEventSystem::State::frame(Node& node, const InputFrame& frame) {
    const std::span<const input_event> codes = frame.codes();
    const std::uint64_t types = node.state().types(codes);
    if ((types & taps.activeMask()) == 0) {
        // No tap sees any of it: straight to the mirror, as it came.
        const ModifierKeys before = node.state().modifiers();
        node.state().commit(codes);
        if ((types & eventMaskBit(EventType::scrollWheel)) != 0) wheeled(node);
        output.passThrough(node.mirror(), codes);
        if (!(before == node.state().modifiers())) updateFlags();
        return;
    }

    FrameContext context;
    for (const auto& other : nodes) {
        if (other.get() != &node) context.otherModifiers = context.otherModifiers | other->state().modifiers();
    }
    context.heldFlags = output.heldFlags();
    context.capsLock = capsLock;
    context.cursor = owner.cursorLocation();
    events.clear();
    node.state().translate(codes, context, events);
    node.state().commit(codes);
    updateFlags();

    ++dispatching;
    for (FrameEvent& entry : events) {
        entry.passes = taps.dispatch(entry.event, HIDOrigin{node.info().id, entry.wheelDetents});
        if (!entry.passes && isMouseButtonDown(entry.made.type))
            output.swallowed(entry.made.integer(IntegerField::buttonNumber), node.mirror());
        if (entry.made.type == EventType::scrollWheel) wheeled(node);
    }
    --dispatching;

    output.frame(node.mirror(), codes, events);
    if (refreshOwed) refreshGrabs();
}

void LinuxEventSystem::State::forwardLeds(Node& node) {
    if (const std::optional<bool> on = node.forwardLeds()) {
        capsLock = *on;
        updateFlags();
    }
}

void LinuxEventSystem::State::wheeled(Node& node) {
    output.wheeled(node.mirror(), node.description().has(EV_REL, REL_WHEEL_HI_RES));
}

void LinuxEventSystem::State::updateFlags() {
    ModifierKeys down;
    for (const auto& node : nodes) down = down | node->state().modifiers();
    output.devicesChanged(down, capsLock);
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
        if (node->grab().isOpen()) stop(*node);  // closes, never drops
    }
    output.letGo();
    if (sessionActive) output.ensure();
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
