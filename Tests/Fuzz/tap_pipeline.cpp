// Feeds the tap pipeline event sequences from two mice and a keyboard (buttons down and up,
// drags, wheel notches, keys), with new rules between them, and carries out its verdicts and the
// releases of each rebuild as the tap host does. Once every button and key is up again, nothing
// is held: no key hold, no button followed, no carrier key down, no hold-scroll running.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <set>
#include <utility>

#include "Core/Tap/TapPipeline.h"
#include "Fuzz/FuzzInput.h"

using namespace tindlewave;
using fuzzing::check;
using fuzzing::FuzzInput;

namespace {

constexpr SenderID firstMouse{0x1000};
constexpr SenderID secondMouse{0x2000};
constexpr SenderID keyboard{0x3000};
constexpr KeyCode f18{79};
constexpr KeyCode f13{105};
constexpr KeyCode letter{0};

const Action spaceLeft = Action::system(SystemAction::spaceLeft);

GesturePlan swipePlan(GestureFire fire) {
    return GesturePlan{10, spaceLeft, GestureMoves::swipes({{Direction::left, spaceLeft}}, fire)};
}
GesturePlan scrollPlan() {
    return GesturePlan{5, std::nullopt, GestureMoves::scroll(HoldScrollPlan(2, std::nullopt))};
}

// One button's behaviour, chosen by the input.
std::optional<ControlBehavior> someBehavior(FuzzInput& input) {
    switch (input.between(0, 6)) {
        case 0:
            return ControlBehavior::press(spaceLeft);
        case 1:
            return ControlBehavior::gesture(swipePlan(GestureFire::pastDistance));
        case 2:
            return ControlBehavior::gesture(swipePlan(GestureFire::onRelease));
        case 3:
            return ControlBehavior::gesture(scrollPlan());
        case 4:
            return ControlBehavior::hold(KeyHold{{HeldModifier::leftCommand, HeldModifier::leftShift}, f13});
        case 5:
            return ControlBehavior::hold(KeyHold{{HeldModifier::rightOption}, std::nullopt});
        default:
            return std::nullopt;
    }
}

// Rules for buttons 2 to 4 of either mouse, the carrier keys, smooth scrolling and listening.
TapRules someRules(FuzzInput& input) {
    TapRules rules;
    for (SenderID sender : {firstMouse, secondMouse}) {
        for (std::int64_t number = 2; number <= 4; ++number) {
            if (auto behavior = someBehavior(input)) rules.buttons.emplace(ButtonKey{sender, number}, *behavior);
        }
    }
    switch (input.between(0, 3)) {
        case 0:
            rules.carriers.emplace(f18, CarrierMeaning::holdModifiers(Modifiers::hyper));
            break;
        case 1:
            rules.carriers.emplace(f18, CarrierMeaning::press(spaceLeft));
            break;
        case 2:
            rules.carriers.emplace(f18, CarrierMeaning::holdModifiers(Modifiers::hyper));
            rules.carriers.emplace(f13, CarrierMeaning::holdModifiers(Modifiers::hyper));
            break;
        default:
            break;
    }
    if (input.chance(0.5)) rules.smoothScroll.emplace(firstMouse, SmoothScroll::defaults());
    if (input.chance(0.15)) {
        rules.listen = TapListen{ListenID{static_cast<std::uint64_t>(input.between(1, 3))},
                                 {firstMouse, keyboard}};
    }
    return rules;
}

EventType buttonType(std::int64_t number, int phase) {  // phase: 0 down, 1 up, 2 dragged
    static constexpr EventType left[] = {EventType::leftMouseDown, EventType::leftMouseUp,
                                         EventType::leftMouseDragged};
    static constexpr EventType right[] = {EventType::rightMouseDown, EventType::rightMouseUp,
                                          EventType::rightMouseDragged};
    static constexpr EventType other[] = {EventType::otherMouseDown, EventType::otherMouseUp,
                                          EventType::otherMouseDragged};
    return number == 0 ? left[phase] : number == 1 ? right[phase] : other[phase];
}

// The pipeline and what its host keeps: the keys it holds, the system's modifier flags, whether
// hold-scroll runs, and which buttons and keys the user has down.
struct Host {
    TapPipeline pipeline;
    HeldKeys heldKeys;
    std::uint64_t flags = 0;
    bool holdScrolling = false;
    std::set<std::pair<SenderID, std::int64_t>> buttonsDown;
    std::set<std::int64_t> keysDown;

    explicit Host(const TapRules& rules) : pipeline(rules) {}

    void post(std::span<const KeyEvent> events) {
        for (const KeyEvent& event : events) flags = event.flags;
    }

    void send(SenderID from, Event event) {
        const TapVerdict verdict = pipeline.process(event.type, event, HIDOrigin{from, 1});
        if (const auto* keys = as<TapVerdict::Keys>(verdict)) {
            post(heldKeys.receive(keys->event, flags));
        } else if (const auto* scroll = as<TapVerdict::HoldScroll>(verdict)) {
            if (is<HoldScrollEvent::Began>(scroll->event)) holdScrolling = true;
            if (is<HoldScrollEvent::Ended>(scroll->event)) holdScrolling = false;
        }
    }

    void rebuild(const TapRules& rules) {
        const TapPipeline::Release held = pipeline.rebuild(rules);
        if (held.buttons.endsHoldScroll) holdScrolling = false;
        if (auto up = held.carriersUp(flags)) post(std::span(&*up, 1));
        if (held.buttons.keyHolder) post(heldKeys.release(*held.buttons.keyHolder, heldKeys.base(flags)));
    }

    void button(SenderID from, std::int64_t number, bool down) {
        Event event;
        event.type = buttonType(number, down ? 0 : 1);
        event.setInteger(IntegerField::buttonNumber, number);
        if (down) {
            buttonsDown.insert({from, number});
        } else {
            buttonsDown.erase({from, number});
        }
        send(from, event);
    }

    void key(std::int64_t code, bool down, bool autorepeat = false) {
        Event event;
        event.type = down ? EventType::keyDown : EventType::keyUp;
        event.flags = flags;
        event.setInteger(IntegerField::keyCode, code);
        event.setInteger(IntegerField::autorepeat, autorepeat ? 1 : 0);
        if (down) {
            keysDown.insert(code);
        } else {
            keysDown.erase(code);
        }
        send(keyboard, event);
    }
};

SenderID someMouse(FuzzInput& input) {
    return input.chance(0.5) ? firstMouse : secondMouse;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    Host host(someRules(input));
    const std::int64_t keys[] = {f18.rawValue, f13.rawValue, letter.rawValue};

    for (int op = 0; op < 400 && !input.empty(); ++op) {
        switch (input.between(0, 7)) {
            case 0:
            case 1: {
                // A button goes down, or up when it is down, as a real mouse sends them.
                const SenderID from = someMouse(input);
                const std::int64_t number = input.between(0, 4);
                host.button(from, number, !host.buttonsDown.contains({from, number}));
                break;
            }
            case 2: {
                // A drag of a button that is down.
                if (host.buttonsDown.empty()) break;
                auto [from, number] = *std::next(host.buttonsDown.begin(),
                                                 input.between(0, static_cast<int>(host.buttonsDown.size()) - 1));
                Event event;
                event.type = buttonType(number, 2);
                event.setInteger(IntegerField::buttonNumber, number);
                event.setInteger(IntegerField::deltaX, input.between(-40, 40));
                event.setInteger(IntegerField::deltaY, input.between(-40, 40));
                host.send(from, event);
                break;
            }
            case 3: {
                Event event;
                event.type = EventType::scrollWheel;
                event.setFixedPoint(FixedPointField::scrollFixedDelta1, input.between(-3, 3));
                event.setInteger(IntegerField::scrollDelta1, input.between(-3, 3));
                host.send(someMouse(input), event);
                break;
            }
            case 4:
            case 5: {
                // A key goes down; once down, it repeats or comes up.
                const std::int64_t code = keys[input.between(0, 2)];
                if (!host.keysDown.contains(code)) {
                    host.key(code, true);
                } else {
                    const bool repeat = input.chance(0.5);
                    host.key(code, repeat, repeat);
                }
                break;
            }
            case 6:
                host.rebuild(someRules(input));
                break;
            default: {
                const TapPipeline::Release held = host.pipeline.reset();
                if (held.buttons.endsHoldScroll) host.holdScrolling = false;
                if (auto up = held.carriersUp(host.flags)) host.post(std::span(&*up, 1));
                host.post(host.heldKeys.releaseAll(host.flags));
                break;
            }
        }
    }

    // Every button and key comes up.
    const auto buttons = host.buttonsDown;
    for (const auto& [sender, number] : buttons) host.button(sender, number, false);
    const auto down = host.keysDown;
    for (std::int64_t code : down) host.key(code, false);

    check(host.heldKeys.holds().empty());
    check(!host.pipeline.buttons.held());
    check(host.pipeline.carriers.held().empty());
    check(!host.holdScrolling);
    return 0;
}
