#include "Platform/Linux/Input/LinuxEventSystem.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <utility>

#include "Platform/Clock.h"
#include "Platform/Linux/Devices/LinuxDeviceRegistry.h"
#include "Platform/Linux/Input/LinuxEventSystemState.h"
#include "Platform/Linux/Input/X11Pointer.h"

namespace tindlewave {

namespace {

// Every event system of the process, for suspendAll and resumeAll.
std::mutex eventSystemsMutex;
std::vector<LinuxEventSystem*> eventSystems;

}  // namespace

// Mice and keyboards are tapped; touch pads, tablets, touch screens and joysticks never are.
EventNodeInfo::Kind eventNodeKind(const LinuxDeviceRegistry::Entry& entry) {
    for (const char* untapped :
         {"ID_INPUT_TOUCHPAD", "ID_INPUT_TABLET", "ID_INPUT_TOUCHSCREEN", "ID_INPUT_JOYSTICK"}) {
        if (entry.property(untapped) == "1") return EventNodeInfo::Kind::other;
    }
    if (entry.property("ID_INPUT_MOUSE") == "1") return EventNodeInfo::Kind::mouse;
    if (entry.property("ID_INPUT_KEYBOARD") == "1") return EventNodeInfo::Kind::keyboard;
    return EventNodeInfo::Kind::other;
}

namespace {

EventNodeInfo nodeOf(const LinuxDeviceRegistry::Entry& entry) {
    EventNodeInfo node;
    node.id = SenderID{entry.id};
    node.devnode = entry.devnode;
    node.kind = eventNodeKind(entry);
    if (entry.input) node.sysname = entry.input->syspath.substr(entry.input->syspath.rfind('/') + 1);
    return node;
}

}  // namespace

LinuxEventSystem::State::State(LinuxEventSystem& owner_, Executor& input_, Options options_)
    : owner(owner_),
      input(input_),
      fds(FdRegistrar::of(input_)),
      options(std::move(options_)),
      watchdog(options.stallSeconds, [this, living = std::weak_ptr<bool>(alive)] {
          input.post([this, living] {
              if (auto a = living.lock(); a && *a) handleStall();
          });
      }),
      output(input_, watchdog,
             {options.uinputPath, options.udevAnnounces.value_or(false), options.desktopOpenSeconds,
              options.isAnnounced, options.journal},
             options.stallSeconds / 4) {
    // Codes unwritten a quarter of the stall limit on are looked at.
    DeviceWriter& writer = output.writer();
    watchdog.watchWrites(writer.lateFd(), options.stallSeconds / 4, [&writer] { return writer.beats(); });
    if (options.followSession) {
        if (fds) followSession();
        else sessionUnfollowed = "the input executor watches no descriptors";
    }
}

LinuxEventSystem::State::~State() {
    watchdog.stop();
    sessionWatch.cancel();
    registryWatch.cancel();
    ownNodesWatch.cancel();
    for (auto& node : nodes) stop(*node);
    output.stop();
}

LinuxEventSystem::LinuxEventSystem(Executor& input, Options options)
    : state_(std::make_unique<State>(*this, input, std::move(options))),
      input_(input),
      pointer_(X11Pointer::open()) {
    std::lock_guard lock(eventSystemsMutex);
    eventSystems.push_back(this);
}

LinuxEventSystem::~LinuxEventSystem() {
    {
        std::lock_guard lock(eventSystemsMutex);
        std::erase(eventSystems, this);
    }
    *state_->alive = false;
    // First: the state asks for the cursor's place while it ungrabs and closes.
    state_.reset();
}

void LinuxEventSystem::suspend() {
    state_->suspended = true;
    state_->watchdog.suspend();
}

void LinuxEventSystem::resume() {
    state_->watchdog.resume();
    std::weak_ptr<bool> alive = state_->alive;
    State* state = state_.get();
    input_.post([alive, state] {
        auto living = alive.lock();
        if (!living || !*living) return;
        state->handleStall();  // the release, if the executor has not taken it in yet
        if (state->sessionActive) state->output.ensure();
        state->refreshGrabs();
    });
}

void LinuxEventSystem::suspendAll() {
    std::lock_guard lock(eventSystemsMutex);
    for (LinuxEventSystem* events : eventSystems) events->suspend();
}

void LinuxEventSystem::resumeAll() {
    std::lock_guard lock(eventSystemsMutex);
    for (LinuxEventSystem* events : eventSystems) events->resume();
}

std::optional<TapPort> LinuxEventSystem::createTap(const TapSpec& spec, TapCallback callback) {
    if (!callback || !state_->output.ensure()) return std::nullopt;
    return state_->taps.create(spec, std::move(callback));
}

bool LinuxEventSystem::attach(TapPort port, Executor& executor) {
    if (&executor != &input_ || !state_->taps.attach(port)) return false;
    state_->refreshGrabs();
    return true;
}

void LinuxEventSystem::detach(TapPort port) {
    state_->taps.detach(port);
    state_->refreshGrabs();
}

void LinuxEventSystem::enable(TapPort port, bool enabled) {
    state_->taps.enable(port, enabled);
    state_->refreshGrabs();
}

bool LinuxEventSystem::isEnabled(TapPort port) const { return state_->taps.isEnabled(port); }

bool LinuxEventSystem::isValid(TapPort port) const { return state_->taps.isValid(port); }

void LinuxEventSystem::invalidate(TapPort port) {
    state_->taps.invalidate(port);
    state_->refreshGrabs();
}

void LinuxEventSystem::post(const Event& event, EventLevel level) {
    // The session level passes no tap: on the tap executor (the tap host's scroll frames) it is
    // written at once. The HID level goes through the taps, never from inside a callback.
    if (level == EventLevel::session && input_.isCurrent()) return state_->deliver(event, level);
    if (!input_.isCurrent() && state_->writesNow(event, level)) return;
    std::weak_ptr<bool> alive = state_->alive;
    State* state = state_.get();
    state->queuedPosts.fetch_add(1, std::memory_order_acq_rel);
    input_.post([alive, state, event, level] {
        auto living = alive.lock();
        if (!living || !*living) return;
        state->deliver(event, level);
        state->queuedPosts.fetch_sub(1, std::memory_order_acq_rel);
    });
}

std::uint64_t LinuxEventSystem::flagsState() const { return state_->output.flags(); }

Event::Location LinuxEventSystem::cursorLocation() const {
    if (pointer_) {
        if (auto at = pointer_->location()) return *at;
    }
    return glance_.centre();
}

void LinuxEventSystem::associateMouseAndCursor(bool associated) { state_->output.associate(associated); }

std::optional<DisplayID> LinuxEventSystem::displayAt(Event::Location point) const {
    std::lock_guard lock(screensMutex_);
    for (const Screen& screen : screens_)
        if (screen.area.contains(point)) return screen.id;
    return std::nullopt;
}

std::vector<Screen> LinuxEventSystem::screens() const {
    std::lock_guard lock(screensMutex_);
    return screens_;
}

bool LinuxEventSystem::isRefreshing(DisplayID display) const {
    if (auto known = glance_.has(display)) return *known;
    std::lock_guard lock(screensMutex_);
    return std::any_of(screens_.begin(), screens_.end(), [&](const Screen& s) { return s.id == display; });
}

void LinuxEventSystem::setScreens(std::vector<Screen> screens) {
    {
        std::lock_guard lock(screensMutex_);
        screens_.swap(screens);
        glance_.publish(screens_);
    }
    // The screens replaced are freed here, outside the lock.
}

void LinuxEventSystem::follow(LinuxDeviceRegistry& registry) {
    using Kind = LinuxDeviceRegistry::Kind;
    // udev's "add" of the event nodes of the program's own devices (its keyboard, pointer and
    // mirrors): udev's own announcement, as the desktop hears it (its database has the node
    // earlier, while the rules' programs still run). Watched before any of them is made here,
    // since the registry reads udev on another thread; each is made on this executor, and so
    // known by its sysname before the job that brings its "add" runs.
    state_->ownNodesWatch = registry.watchOwnNodes(input_, [this](const std::string& sysname) {
        state_->ownNodeAnnounced(sysname);
    });
    const bool announces = state_->options.udevAnnounces.value_or(registry.announces());
    state_->output.setUdevAnnounces(announces);
    if (!announces && state_->options.journal) {
        state_->options.journal("udev announces no device here (no udev monitor, or udevd is not running): "
                                "the program's keyboard and pointer are written to, and nodes grabbed "
                                "behind their mirrors, without waiting for a desktop to take them up");
    }
    // Watched before listing, so nothing falls between (a node named twice is taken once).
    state_->registryWatch = registry.watch(input_, [this](const LinuxDeviceRegistry::Change& change) {
        if (change.entry.kind != Kind::eventService) return;
        if (state_->sessionActive) state_->output.ensure();
        if (change.action == LinuxDeviceRegistry::Action::added && !change.entry.devnode.empty())
            nodeAdded(nodeOf(change.entry));
        else if (change.action == LinuxDeviceRegistry::Action::removed)
            nodeRemoved(SenderID{change.entry.id});
    });
    // The program's own keyboard and pointer are made now, not at the first post: a desktop
    // takes up a new device only once udev has announced it, and what is written before then
    // (the first shortcut) reaches no one. Without access now, they are made as soon as a change
    // of the input nodes (the device rule's trigger among them) or a tap finds access there.
    if (state_->sessionActive) state_->output.ensure();
    for (const auto& entry : registry.entries()) {
        if (entry.kind == Kind::eventService && !entry.devnode.empty()) nodeAdded(nodeOf(entry));
    }
}

void LinuxEventSystem::nodeAdded(const EventNodeInfo& info) {
    if (info.kind == EventNodeInfo::Kind::other || state_->find(info.id)) return;
    auto node = std::make_unique<State::Node>(info, state_->options.busyTries);
    if (state_->isOwnSysname(info.sysname)) node->grab().ownDevice();
    state_->nodes.push_back(std::move(node));
    State::Node& added = *state_->nodes.back();
    if (added.grab().refresh(state_->wantsGrabs(), false) == NodeGrab::Step::open) state_->start(added);
}

void LinuxEventSystem::nodeRemoved(SenderID id) { state_->drop(id); }

void LinuxEventSystem::adoptNode(const EventNodeInfo& info, int fd, InputDescription description,
                                 UinputDevice mirror) {
    auto node = std::make_unique<State::Node>(info, state_->options.busyTries);
    node->adopt(UniqueFd(fd), std::move(description), state_->output.devices(), std::move(mirror));
    state_->nodes.push_back(std::move(node));
    state_->watchdog.watch(fd);
}

void LinuxEventSystem::adoptVirtualDevices(UinputDevice keyboard, UinputDevice pointer) {
    state_->output.adopt(std::move(keyboard), std::move(pointer));
}

void LinuxEventSystem::readNow(SenderID id) {
    if (State::Node* node = state_->find(id)) state_->readable(*node);
}

void LinuxEventSystem::awaitWrites() { state_->output.writer().flush(); }

const std::optional<std::string>& LinuxEventSystem::sessionUnfollowed() const {
    return state_->sessionUnfollowed;
}

void LinuxEventSystem::setSessionActive(bool active) { state_->sessionChanged(active); }

std::vector<std::string> LinuxEventSystem::busyNodes() const { return state_->busy; }

std::vector<std::string> LinuxEventSystem::grabbedNodes() const {
    std::vector<std::string> grabbed;
    for (const auto& node : state_->nodes) {
        if (node->grab().isGrabbed()) grabbed.push_back(node->info().devnode);
    }
    return grabbed;
}

// Posts.

// A post from another thread that no tap could see or change is written on that thread, with no
// hop to the input executor: where nothing posted before still waits there, the session is
// active, nothing is suspended or released, and nothing is held for the devices' announcement.
bool LinuxEventSystem::State::writesNow(const Event& event, EventLevel level) {
    if (queuedPosts.load(std::memory_order_acquire) != 0) return false;
    if (level == EventLevel::hid && (tapTypes.load(std::memory_order_acquire) & eventMaskBit(event.type)) != 0)
        return false;
    if (!sessionActive.load(std::memory_order_acquire) || watchdog.isSuspended() || watchdog.released())
        return false;
    return output.postNow(event);
}

void LinuxEventSystem::State::deliver(const Event& posted, EventLevel level) {
    if (!sessionActive) return;  // another session's input is none of ours
    if (watchdog.isSuspended()) return;  // the process is about to stop: nothing may be held
    if (level != EventLevel::hid) return output.post(posted);  // no tap sees it: written as posted
    Event event = posted;  // the taps may change it
    ++dispatching;
    const bool passes = taps.dispatch(event, std::nullopt);
    --dispatching;
    if (refreshOwed) refreshGrabs();
    if (passes) output.post(event);
}

void LinuxEventSystem::State::ownNodeAnnounced(const std::string& sysname) {
    if (sysname.empty()) return;
    const Instant now = input.clock().now();
    for (auto& node : nodes) {
        if (node->mirror() && sysname == node->mirror()->sysname() && !node->mirrorHeardAt) node->mirrorHeardAt = now;
    }
    output.heard(sysname);
}

void LinuxEventSystem::State::followSession() {
    auto opened = LogindSessionWatch::open();
    auto* watch = std::get_if<std::unique_ptr<LogindSessionWatch>>(&opened);
    if (!watch) {
        // No logind: the session counts as active.
        sessionUnfollowed = std::get<LogindSessionWatch::Unavailable>(opened).reason;
        return;
    }
    session = std::move(*watch);
    sessionActive = session->isActive();
    sessionWatch = fds->addFd(session->fd(), EPOLLIN, [this](std::uint32_t) {
        for (bool active : session->process()) sessionChanged(active);
        if (!session->isConnected()) sessionWatch.cancel();
    });
}

void LinuxEventSystem::State::sessionChanged(bool active) {
    if (active == sessionActive) return;
    sessionActive = active;
    if (!active) {
        // Nothing of ours stays down for the next session: the kernel lets go of what a
        // destroyed device holds.
        output.letGo();
        output.dropHeld();  // nothing of ours is written for another session
    }
    // Back in the session: the program's devices again at once, so the desktop has them
    // before anything is posted.
    if (active) output.ensure();
    refreshGrabs();
    if (!active) {
        ++dispatching;
        taps.disableAll(EventType::tapDisabledByUserInput);
        --dispatching;
        refreshGrabs();
    }
    updateFlags();
}

}  // namespace tindlewave
