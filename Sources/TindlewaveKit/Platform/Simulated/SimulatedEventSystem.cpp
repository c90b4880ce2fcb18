#include "Platform/Simulated/SimulatedEventSystem.h"

#include <algorithm>
#include <utility>

#include "Platform/Executor.h"
#include "Platform/PermissionGrants.h"

namespace tindlewave {

namespace {

bool isKeyboardEvent(EventType type) {
    return type == EventType::keyDown || type == EventType::keyUp ||
           type == EventType::flagsChanged;
}

bool movesPointer(EventType type) {
    return type == EventType::mouseMoved || type == EventType::leftMouseDragged ||
           type == EventType::rightMouseDragged || type == EventType::otherMouseDragged;
}

}  // namespace

SimulatedEventSystem::SimulatedEventSystem(Executor& input, PermissionGrants& grants)
    : input_(input), grants_(grants), screens_{Screen{1, {0, 0, 1920, 1080}, 60}} {}

SimulatedEventSystem::~SimulatedEventSystem() = default;

SimulatedEventSystem::Tap* SimulatedEventSystem::find(TapPort port) const {
    for (const auto& tap : taps_)
        if (tap->id == port.rawValue) return tap->valid ? tap.get() : nullptr;
    return nullptr;
}

std::optional<TapPort> SimulatedEventSystem::createTap(const TapSpec& spec, TapCallback callback) {
    {
        std::lock_guard lock(mutex_);
        if (failsTapCreation_) return std::nullopt;
    }
    if (grants_.accessibility() != PermissionState::Grant::granted || !callback)
        return std::nullopt;
    auto tap = std::make_unique<Tap>();
    tap->id = nextTap_++;
    tap->spec = spec;
    tap->callback = std::move(callback);
    taps_.push_back(std::move(tap));
    return TapPort{taps_.back()->id};
}

bool SimulatedEventSystem::attach(TapPort port, Executor& executor) {
    Tap* tap = find(port);
    if (!tap || &executor != &input_) return false;
    tap->attached = true;
    return true;
}

void SimulatedEventSystem::detach(TapPort port) {
    if (Tap* tap = find(port)) tap->attached = false;
}

void SimulatedEventSystem::enable(TapPort port, bool enabled) {
    if (Tap* tap = find(port)) tap->enabled = enabled;
}

bool SimulatedEventSystem::isEnabled(TapPort port) const {
    const Tap* tap = find(port);
    return tap && tap->enabled;
}

bool SimulatedEventSystem::isValid(TapPort port) const {
    return find(port) != nullptr;
}

void SimulatedEventSystem::invalidate(TapPort port) {
    Tap* tap = find(port);
    if (!tap) return;
    tap->valid = false;
    tap->attached = false;
    invalidated_ = true;
    purge();
}

// Drops invalid taps and their callbacks, unless a callback may be running (a tap invalidated
// from inside a callback keeps its callback alive until the dispatch ends).
void SimulatedEventSystem::purge() {
    if (dispatching_ > 0 || !invalidated_) return;
    invalidated_ = false;
    std::erase_if(taps_, [](const auto& tap) { return !tap->valid; });
}

std::optional<HIDOrigin> SimulatedEventSystem::origin(const Event&) const {
    return dispatching_ > 0 ? dispatchOrigin_ : std::nullopt;
}

bool SimulatedEventSystem::offer(Tap& tap, EventType type, Event& event) {
    if (!tap.valid || !tap.attached || !tap.enabled) return true;
    if ((tap.spec.mask & eventMaskBit(type)) == 0) return true;
    if (tap.spec.options == TapOptions::listenOnly) {
        Event copy = event;  // a listener may not change what the others see
        tap.callback(type, copy);
        return true;
    }
    return tap.callback(type, event) == TapAnswer::pass;
}

void SimulatedEventSystem::dispatch(const Event& original, std::optional<HIDOrigin> origin) {
    ++dispatching_;
    auto previousOrigin = std::exchange(dispatchOrigin_, origin);
    Event event = original;
    bool passes = true;
    // Head-inserted taps, newest first; a tap made meanwhile does not see this event.
    for (std::size_t i = taps_.size(); passes && i-- > 0;) {
        if (taps_[i]->spec.placement == TapPlacement::headInsert)
            passes = offer(*taps_[i], event.type, event);
    }
    for (std::size_t i = 0, n = taps_.size(); passes && i < n; ++i) {
        if (taps_[i]->spec.placement == TapPlacement::tailAppend)
            passes = offer(*taps_[i], event.type, event);
    }
    dispatchOrigin_ = previousOrigin;
    --dispatching_;
    purge();
    if (!passes) return;
    std::lock_guard lock(mutex_);
    deliverLocked(event);
}

void SimulatedEventSystem::deliverLocked(const Event& event) {
    Event& delivered = delivered_.emplace_back(event);
    if (isKeyboardEvent(event.type)) flags_ = event.flags;
    if (movesPointer(event.type)) {
        if (associated_)
            cursor_ = event.location;
        else
            delivered.location = cursor_;
    }
}

void SimulatedEventSystem::later(std::function<void()> job) {
    std::weak_ptr<bool> alive = alive_;
    input_.post([alive, job = std::move(job)] {
        if (alive.lock()) job();
    });
}

void SimulatedEventSystem::inject(const Event& event, std::optional<HIDOrigin> origin) {
    later([this, event, origin] { dispatch(event, origin); });
}

void SimulatedEventSystem::post(const Event& event, EventLevel level) {
    std::lock_guard lock(mutex_);
    posted_.push_back({event, level});
    if (level == EventLevel::session) {
        deliverLocked(event);
    } else {
        later([this, event] { dispatch(event, std::nullopt); });
    }
}

std::uint64_t SimulatedEventSystem::flagsState() const {
    std::lock_guard lock(mutex_);
    return flags_;
}

Event::Location SimulatedEventSystem::cursorLocation() const {
    std::lock_guard lock(mutex_);
    return cursor_;
}

void SimulatedEventSystem::associateMouseAndCursor(bool associated) {
    std::lock_guard lock(mutex_);
    associated_ = associated;
    associationCalls_.push_back(associated);
}

std::optional<DisplayID> SimulatedEventSystem::displayAt(Event::Location point) const {
    std::lock_guard lock(mutex_);
    for (const Screen& screen : screens_)
        if (screen.area.contains(point)) return screen.id;
    return std::nullopt;
}

std::vector<Screen> SimulatedEventSystem::screens() const {
    std::lock_guard lock(mutex_);
    return screens_;
}

bool SimulatedEventSystem::isRefreshing(DisplayID display) const {
    std::lock_guard lock(mutex_);
    bool present = std::any_of(screens_.begin(), screens_.end(),
                               [&](const Screen& screen) { return screen.id == display; });
    return present && !stalled_.contains(display);
}

std::vector<Event> SimulatedEventSystem::delivered() const {
    std::lock_guard lock(mutex_);
    return delivered_;
}

std::vector<SimulatedEventSystem::Posted> SimulatedEventSystem::posted() const {
    std::lock_guard lock(mutex_);
    return posted_;
}

void SimulatedEventSystem::clearLogs() {
    std::lock_guard lock(mutex_);
    delivered_.clear();
    posted_.clear();
    associationCalls_.clear();
}

std::vector<bool> SimulatedEventSystem::associationCalls() const {
    std::lock_guard lock(mutex_);
    return associationCalls_;
}

bool SimulatedEventSystem::isCursorAssociated() const {
    std::lock_guard lock(mutex_);
    return associated_;
}

std::size_t SimulatedEventSystem::tapCount() const {
    return static_cast<std::size_t>(
        std::count_if(taps_.begin(), taps_.end(), [](const auto& tap) { return tap->valid; }));
}

void SimulatedEventSystem::setScreens(std::vector<Screen> screens) {
    std::lock_guard lock(mutex_);
    screens_ = std::move(screens);
}

void SimulatedEventSystem::moveCursor(Event::Location to) {
    std::lock_guard lock(mutex_);
    cursor_ = to;
}

void SimulatedEventSystem::setFailsTapCreation(bool fails) {
    std::lock_guard lock(mutex_);
    failsTapCreation_ = fails;
}

void SimulatedEventSystem::disableTap(TapPort port, DisableNotice notice) {
    later([this, port, notice] {
        Tap* tap = find(port);
        if (!tap) return;
        tap->enabled = false;
        if (notice == DisableNotice::silent || !tap->attached) return;
        ++dispatching_;
        Event empty;
        empty.type = notice == DisableNotice::timeout ? EventType::tapDisabledByTimeout
                                                      : EventType::tapDisabledByUserInput;
        tap->callback(empty.type, empty);
        --dispatching_;
        purge();
    });
}

void SimulatedEventSystem::invalidateTap(TapPort port) {
    later([this, port] { invalidate(port); });
}

void SimulatedEventSystem::setRefreshing(DisplayID display, bool refreshing) {
    std::lock_guard lock(mutex_);
    if (refreshing)
        stalled_.erase(display);
    else
        stalled_.insert(display);
}

}  // namespace tindlewave
