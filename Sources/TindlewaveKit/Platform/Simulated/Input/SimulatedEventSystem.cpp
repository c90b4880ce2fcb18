#include "Platform/Simulated/Input/SimulatedEventSystem.h"

#include <algorithm>
#include <utility>

#include "Platform/Executor.h"
#include "Platform/PermissionGrants.h"

namespace tindlewave {

namespace {

// Adds `entry` to a record that keeps the latest `SimulatedEventSystem::recordLimit` entries (and
// its storage: a full record allocates nothing).
template <class Entry>
Entry& keepLatest(RingQueue<Entry>& entries, Entry entry) {
    if (entries.size() >= SimulatedEventSystem::recordLimit) entries.pop_front();
    entries.push_back(std::move(entry));
    return entries.back();
}

template <class Entry>
std::vector<Entry> oldestFirst(const RingQueue<Entry>& entries) {
    std::vector<Entry> all;
    all.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) all.push_back(entries[i]);
    return all;
}

bool movesPointer(EventType type) {
    return type == EventType::mouseMoved || type == EventType::leftMouseDragged ||
           type == EventType::rightMouseDragged || type == EventType::otherMouseDragged;
}

}  // namespace

SimulatedEventSystem::SimulatedEventSystem(Executor& input, PermissionGrants& grants)
    : input_(input), grants_(grants), screens_{Screen{1, {0, 0, 1920, 1080}, 60}} {}

SimulatedEventSystem::~SimulatedEventSystem() = default;

std::optional<TapPort> SimulatedEventSystem::createTap(const TapSpec& spec, TapCallback callback) {
    {
        std::lock_guard lock(mutex_);
        if (failsTapCreation_) return std::nullopt;
    }
    if (grants_.accessibility() != PermissionState::Grant::granted || !callback)
        return std::nullopt;
    return taps_.create(spec, std::move(callback));
}

bool SimulatedEventSystem::attach(TapPort port, Executor& executor) {
    return &executor == &input_ && taps_.attach(port);
}

void SimulatedEventSystem::detach(TapPort port) { taps_.detach(port); }

void SimulatedEventSystem::enable(TapPort port, bool enabled) { taps_.enable(port, enabled); }

bool SimulatedEventSystem::isEnabled(TapPort port) const { return taps_.isEnabled(port); }

bool SimulatedEventSystem::isValid(TapPort port) const { return taps_.isValid(port); }

void SimulatedEventSystem::invalidate(TapPort port) { taps_.invalidate(port); }

std::optional<Event> SimulatedEventSystem::dispatch(const Event& original,
                                                   const std::optional<HIDOrigin>& origin) {
    Event event = original;
    if (!taps_.dispatch(event, origin)) return std::nullopt;
    std::lock_guard lock(mutex_);
    return deliverLocked(event);
}

const Event& SimulatedEventSystem::deliverLocked(const Event& event) {
    Event& delivered = keepLatest(delivered_, event);
    // Only a modifier's own change moves the modifier state; the flags a key event carries (a
    // posted shortcut's among them) describe that event alone.
    if (event.type == EventType::flagsChanged) flags_ = event.flags;
    if (movesPointer(event.type)) {
        if (associated_)
            cursor_ = event.location;
        else
            delivered.location = cursor_;
    }
    return delivered;
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
    keepLatest(posted_, Posted{event, level});
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
    keepLatest(associationCalls_, associated);
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
    return oldestFirst(delivered_);
}

std::vector<SimulatedEventSystem::Posted> SimulatedEventSystem::posted() const {
    std::lock_guard lock(mutex_);
    return oldestFirst(posted_);
}

void SimulatedEventSystem::clearLogs() {
    std::lock_guard lock(mutex_);
    delivered_.clear();
    posted_.clear();
    associationCalls_.clear();
}

std::vector<bool> SimulatedEventSystem::associationCalls() const {
    std::lock_guard lock(mutex_);
    return oldestFirst(associationCalls_);
}

bool SimulatedEventSystem::isCursorAssociated() const {
    std::lock_guard lock(mutex_);
    return associated_;
}

std::size_t SimulatedEventSystem::tapCount() const { return taps_.count(); }

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
        std::optional<EventType> told;
        if (notice == DisableNotice::timeout) told = EventType::tapDisabledByTimeout;
        if (notice == DisableNotice::userInput) told = EventType::tapDisabledByUserInput;
        taps_.disable(port, told);
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
