#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <optional>

#include "Core/Tap/TapPipeline.h"

namespace tindlewave {
namespace {

constexpr SenderID mouse{0x1000};
constexpr SenderID keyboard{0x2000};
constexpr SenderID stranger{0x3000};
constexpr KeyCode f18{79};
constexpr KeyCode f13{105};
constexpr std::uint64_t hyperFlags = 0x40000 | 0x80000 | 0x20000 | 0x100000;

// The origin the tests hand the pipeline with each event: it comes from `sender` with
// `detents`, unless the test says there is no HID event behind it.
struct FakeOrigin {
    std::optional<SenderID> sender = mouse;
    double detents = 1;

    std::optional<HIDOrigin> origin() const {
        if (!sender) return std::nullopt;
        return HIDOrigin{*sender, detents};
    }
};

struct Pipe {
    FakeOrigin from;
    TapPipeline pipeline;

    explicit Pipe(const TapRules& rules) : pipeline(rules) {}

    TapVerdict run(Event& event) { return pipeline.process(event.type, event, from.origin()); }
    TapVerdict run(Event&& event) { return pipeline.process(event.type, event, from.origin()); }
};

Event key(EventType type, KeyCode code, bool autorepeat = false, std::uint64_t flags = 0) {
    Event e;
    e.type = type;
    e.flags = flags;
    e.setInteger(IntegerField::keyCode, code.rawValue);
    e.setInteger(IntegerField::autorepeat, autorepeat ? 1 : 0);
    return e;
}

Event button(EventType type, std::int64_t number, Event::Location at = {}) {
    Event e;
    e.type = type;
    e.location = at;
    e.setInteger(IntegerField::buttonNumber, number);
    return e;
}

Event drag(std::int64_t number, std::int64_t dx, std::int64_t dy) {
    Event e = button(EventType::otherMouseDragged, number);
    e.setInteger(IntegerField::deltaX, dx);
    e.setInteger(IntegerField::deltaY, dy);
    return e;
}

Event wheel(double fixed1, std::int64_t whole1 = 0) {
    Event e;
    e.type = EventType::scrollWheel;
    e.setFixedPoint(FixedPointField::scrollFixedDelta1, fixed1);
    e.setInteger(IntegerField::scrollDelta1, whole1);
    return e;
}

const Action mission = Action::system(SystemAction::missionControl);
const Action spaceLeft = Action::system(SystemAction::spaceLeft);

GesturePlan swipePlan(std::optional<Action> click = std::nullopt) {
    return GesturePlan{
        10, click, GestureMoves::swipes({{Direction::left, spaceLeft}}, GestureFire::pastDistance)};
}

GesturePlan scrollPlan() {
    return GesturePlan{5, std::nullopt, GestureMoves::scroll(HoldScrollPlan(2, std::nullopt))};
}

TapRules buttonRules(std::map<std::int64_t, ControlBehavior> byButton) {
    TapRules rules;
    for (auto& [number, behavior] : byButton)
        rules.buttons.emplace(ButtonKey{mouse, number}, behavior);
    return rules;
}

TEST(TapPipeline, MarkedEventsPassUntouchedWhateverTheRules) {
    TapRules rules = buttonRules({{2, ControlBehavior::press(mission)}});
    rules.carriers.emplace(f18, CarrierMeaning::holdModifiers(Modifiers::hyper));
    rules.smoothScroll.emplace(mouse, SmoothScroll::defaults());
    Pipe pipe(rules);

    for (Event e : {key(EventType::keyDown, f18), button(EventType::otherMouseDown, 2), wheel(1)}) {
        e.mark();
        Event before = e;
        EXPECT_EQ(pipe.run(e), TapVerdict::pass());
        EXPECT_EQ(e, before);
    }
    EXPECT_TRUE(pipe.pipeline.carriers.held().empty());
    EXPECT_FALSE(pipe.pipeline.buttons.held().has_value());
    EXPECT_EQ(TapPipeline::mask, 0x0E400C98u);
}

TEST(TapPipeline, ListeningHearsOnePressPerListenAndSwallowsItsRest) {
    TapRules rules;
    rules.listen = TapListen{ListenID{7}, {keyboard}};
    Pipe pipe(rules);
    pipe.from.sender = keyboard;
    const KeyCode a{0};

    // Another service's key is not heard.
    pipe.from.sender = stranger;
    EXPECT_EQ(pipe.run(key(EventType::keyDown, a)), TapVerdict::pass());
    pipe.from.sender = keyboard;
    // An autorepeat is never a new press.
    EXPECT_EQ(pipe.run(key(EventType::keyDown, a, true)), TapVerdict::pass());

    EXPECT_EQ(pipe.run(key(EventType::keyDown, a)),
              TapVerdict::heard(ListenID{7}, ListenPress::key(a)));
    EXPECT_EQ(pipe.run(key(EventType::keyDown, a, true)), TapVerdict::drop());
    EXPECT_EQ(pipe.run(key(EventType::keyDown, KeyCode{1})), TapVerdict::pass());
    EXPECT_EQ(pipe.run(key(EventType::keyUp, a)), TapVerdict::drop());
    EXPECT_EQ(pipe.run(key(EventType::keyDown, a)), TapVerdict::pass());  // answered already

    // New rules with the same listen keep what was heard; a new listen id hears again, here a
    // button, whose drag and up are swallowed.
    pipe.pipeline.rebuild(rules);
    EXPECT_EQ(pipe.run(key(EventType::keyDown, a)), TapVerdict::pass());
    rules.listen = TapListen{ListenID{8}, {keyboard}};
    pipe.pipeline.rebuild(rules);
    EXPECT_EQ(pipe.run(button(EventType::otherMouseDown, 3)),
              TapVerdict::heard(ListenID{8}, ListenPress::button(3)));
    EXPECT_EQ(pipe.run(drag(3, 4, 4)), TapVerdict::drop());
    EXPECT_EQ(pipe.run(button(EventType::otherMouseUp, 3)), TapVerdict::drop());
    EXPECT_EQ(pipe.run(button(EventType::otherMouseUp, 3)), TapVerdict::pass());
}

TEST(TapPipeline, AHeardPressIsStillSwallowedAfterNewRules) {
    TapRules rules;
    rules.listen = TapListen{ListenID{1}, {mouse}};
    Pipe pipe(rules);
    EXPECT_TRUE(is<TapVerdict::Heard>(pipe.run(button(EventType::rightMouseDown, 1))));
    pipe.pipeline.rebuild(TapRules::empty());
    EXPECT_EQ(pipe.run(button(EventType::rightMouseUp, 1)), TapVerdict::drop());
}

TEST(TapPipeline, HyperCarrierHoldsItsModifiersAsACommandKeyChange) {
    TapRules rules;
    rules.carriers.emplace(f18, CarrierMeaning::holdModifiers(Modifiers::hyper));
    rules.carriers.emplace(f13, CarrierMeaning::holdModifiers(Modifiers::command));
    Pipe pipe(rules);

    Event down = key(EventType::keyDown, f18, false, 0x800000 | 0x100);
    EXPECT_EQ(pipe.run(down), TapVerdict::pass());
    EXPECT_EQ(down.type, EventType::flagsChanged);
    EXPECT_EQ(down.integer(IntegerField::keyCode), 55);
    EXPECT_EQ(down.flags, hyperFlags | 0x100);
    EXPECT_EQ(pipe.run(key(EventType::keyDown, f18, true)), TapVerdict::drop());

    Event typed = key(EventType::keyDown, KeyCode{0});
    EXPECT_EQ(pipe.run(typed), TapVerdict::pass());
    EXPECT_EQ(typed.type, EventType::keyDown);
    EXPECT_EQ(typed.flags, hyperFlags);

    // A second carrier holds Command: F18's up keeps it and drops the other three.
    Event f13Down = key(EventType::keyDown, f13);
    pipe.run(f13Down);
    Event up = key(EventType::keyUp, f18, false, hyperFlags | 0x800000);
    EXPECT_EQ(pipe.run(up), TapVerdict::pass());
    EXPECT_EQ(up.type, EventType::flagsChanged);
    EXPECT_EQ(up.flags, 0x100000u);
    Event f13Up = key(EventType::keyUp, f13, false, 0x100000);
    pipe.run(f13Up);
    EXPECT_EQ(f13Up.flags, 0u);
    EXPECT_TRUE(pipe.pipeline.carriers.held().empty());

    // An up that was never seen down still comes out without the flags.
    Event lateUp = key(EventType::keyUp, f18, false, hyperFlags);
    pipe.run(lateUp);
    EXPECT_EQ(lateUp.flags, 0u);

    // A modifier whose own key the user holds stays in the up: here left Shift.
    pipe.run(key(EventType::keyDown, f18));
    Event upWithShift = key(EventType::keyUp, f18, false, hyperFlags | 0x2);
    pipe.run(upWithShift);
    EXPECT_EQ(upWithShift.flags, 0x20000u | 0x2);
}

TEST(TapPipeline, ACarrierThatStillMeansTheSameStaysHeldAcrossNewRules) {
    TapRules rules;
    rules.carriers.emplace(f18, CarrierMeaning::holdModifiers(Modifiers::hyper));
    Pipe pipe(rules);
    pipe.run(key(EventType::keyDown, f18));

    TapRules next = rules;
    next.carriers.emplace(f13, CarrierMeaning::press(mission));
    const TapPipeline::Release release = pipe.pipeline.rebuild(next);
    EXPECT_EQ(release.carrierModifiers, Modifiers{});
    EXPECT_EQ(release.carriersUp(hyperFlags), std::nullopt);

    Event typed = key(EventType::keyDown, KeyCode{0});
    pipe.run(typed);
    EXPECT_EQ(typed.flags, hyperFlags);
    EXPECT_EQ(pipe.run(key(EventType::keyDown, f18, true)), TapVerdict::drop());
    Event up = key(EventType::keyUp, f18, false, hyperFlags);
    EXPECT_EQ(pipe.run(up), TapVerdict::pass());
    EXPECT_EQ(up.type, EventType::flagsChanged);
    EXPECT_EQ(up.flags, 0u);
}

TEST(TapPipeline, AHeldCarrierPressedAgainWhileListeningStillEndsItsHoldOnItsUp) {
    TapRules rules;
    rules.carriers.emplace(f18, CarrierMeaning::holdModifiers(Modifiers::hyper));
    Pipe pipe(rules);
    pipe.from.sender = keyboard;
    pipe.run(key(EventType::keyDown, f18));

    rules.listen = TapListen{ListenID{3}, {keyboard}};
    pipe.pipeline.rebuild(rules);
    EXPECT_EQ(pipe.run(key(EventType::keyDown, f18)),
              TapVerdict::heard(ListenID{3}, ListenPress::key(f18)));
    Event up = key(EventType::keyUp, f18, false, hyperFlags);
    EXPECT_EQ(pipe.run(up), TapVerdict::pass());
    EXPECT_EQ(up.type, EventType::flagsChanged);
    EXPECT_EQ(up.flags, 0u);
    EXPECT_TRUE(pipe.pipeline.carriers.held().empty());
    // The heard press is over: a later press of the key is the carrier's again.
    Event again = key(EventType::keyDown, f18);
    EXPECT_EQ(pipe.run(again), TapVerdict::pass());
    EXPECT_EQ(again.flags, hyperFlags);
}

TEST(TapPipeline, ACarrierThatNoLongerCarriesIsHandedBackAndItsRestSwallowed) {
    TapRules rules;
    rules.carriers.emplace(f18, CarrierMeaning::holdModifiers(Modifiers::hyper));
    rules.carriers.emplace(f13, CarrierMeaning::holdModifiers(Modifiers::command));
    Pipe pipe(rules);
    pipe.run(key(EventType::keyDown, f18));
    pipe.run(key(EventType::keyDown, f13));

    // Hyper switched off: F18 carries nothing; F13 still holds Command, which stays down.
    TapRules next;
    next.carriers.emplace(f13, CarrierMeaning::holdModifiers(Modifiers::command));
    const TapPipeline::Release release = pipe.pipeline.rebuild(next);
    EXPECT_EQ(release.carrierModifiers, Modifiers::control | Modifiers::option | Modifiers::shift);
    // The host tells the system: the user's own left Shift (device bit 0x2) keeps Shift down.
    EXPECT_EQ(release.carriersUp(hyperFlags | 0x2 | 0x800000),
              (KeyEvent{EventType::flagsChanged, KeyCode{55}, 0x100000 | 0x20000 | 0x2 | 0x100}));

    Event typed = key(EventType::keyDown, KeyCode{0});
    pipe.run(typed);
    EXPECT_EQ(typed.flags, 0x100000u);
    EXPECT_EQ(pipe.run(key(EventType::keyDown, f18, true)), TapVerdict::drop());
    EXPECT_EQ(pipe.run(key(EventType::keyUp, f18)), TapVerdict::drop());
    // Its next press is a plain key.
    Event again = key(EventType::keyDown, f18);
    EXPECT_EQ(pipe.run(again), TapVerdict::pass());
    EXPECT_EQ(again, key(EventType::keyDown, f18, false, 0x100000));  // F13's Command
    EXPECT_EQ(pipe.run(key(EventType::keyUp, f18)), TapVerdict::pass());

    // No rules at all (paused): F13 is handed back too.
    EXPECT_EQ(pipe.pipeline.rebuild(TapRules::empty()).carrierModifiers, Modifiers::command);
    EXPECT_EQ(pipe.run(key(EventType::keyUp, f13)), TapVerdict::drop());
}

TEST(TapPipeline, ACarrierWhoseMeaningChangedIsEndedAndItsNextPressIsNew) {
    TapRules rules;
    rules.carriers.emplace(f13, CarrierMeaning::holdModifiers(Modifiers::command));
    Pipe pipe(rules);
    pipe.run(key(EventType::keyDown, f13));
    TapRules next;
    next.carriers.emplace(f13, CarrierMeaning::press(mission));
    EXPECT_EQ(pipe.pipeline.rebuild(next).carrierModifiers, Modifiers::command);
    EXPECT_EQ(pipe.run(key(EventType::keyDown, f13, true)), TapVerdict::drop());
    EXPECT_EQ(pipe.run(key(EventType::keyUp, f13)), TapVerdict::drop());
    EXPECT_EQ(pipe.run(key(EventType::keyDown, f13)), TapVerdict::perform(mission));
}

TEST(TapPipeline, AResetEndsEveryHeldCarrier) {
    TapRules rules;
    rules.carriers.emplace(f18, CarrierMeaning::holdModifiers(Modifiers::hyper));
    Pipe pipe(rules);
    EXPECT_EQ(pipe.pipeline.reset(), TapPipeline::Release{});
    pipe.run(key(EventType::keyDown, f18));
    const TapPipeline::Release release = pipe.pipeline.reset();
    EXPECT_EQ(release.carrierModifiers, Modifiers::hyper);
    EXPECT_EQ(release.carriersUp(hyperFlags),
              (KeyEvent{EventType::flagsChanged, KeyCode{55}, 0x100}));
    Event typed = key(EventType::keyDown, KeyCode{0});
    pipe.run(typed);
    EXPECT_EQ(typed.flags, 0u);
    EXPECT_EQ(pipe.run(key(EventType::keyUp, f18)), TapVerdict::drop());
    // Pressed again, it holds again.
    Event down = key(EventType::keyDown, f18);
    EXPECT_EQ(pipe.run(down), TapVerdict::pass());
    EXPECT_EQ(down.flags, hyperFlags);
}

TEST(TapPipeline, CarriersAreFoundWhateverTheirKeyCode) {
    // Key codes past the usual keyboard range are carriers too; other keys still get the held
    // modifiers, whatever their code.
    constexpr KeyCode high{200};
    constexpr KeyCode higher{0xFFFF};
    TapRules rules;
    rules.carriers.emplace(high, CarrierMeaning::holdModifiers(Modifiers::hyper));
    rules.carriers.emplace(higher, CarrierMeaning::press(mission));
    rules.carriers.emplace(KeyCode{127}, CarrierMeaning::press(mission));
    Pipe pipe(rules);
    EXPECT_EQ(pipe.run(key(EventType::keyDown, higher)), TapVerdict::perform(mission));
    EXPECT_EQ(pipe.run(key(EventType::keyDown, KeyCode{127})), TapVerdict::perform(mission));
    Event down = key(EventType::keyDown, high);
    EXPECT_EQ(pipe.run(down), TapVerdict::pass());
    EXPECT_EQ(down.type, EventType::flagsChanged);
    for (KeyCode other : {KeyCode{0}, KeyCode{63}, KeyCode{64}, KeyCode{126}, KeyCode{128},
                          KeyCode{199}, KeyCode{201}}) {
        Event typed = key(EventType::keyDown, other);
        EXPECT_EQ(pipe.run(typed), TapVerdict::pass()) << other.rawValue;
        EXPECT_EQ(typed.type, EventType::keyDown);
        EXPECT_EQ(typed.flags & hyperFlags, hyperFlags) << other.rawValue;
    }
}

TEST(TapPipeline, ClickCarrierPerformsOnceAndSwallowsTheRest) {
    TapRules rules;
    rules.carriers.emplace(f13, CarrierMeaning::press(mission));
    Pipe pipe(rules);
    EXPECT_EQ(pipe.run(key(EventType::keyDown, f13)), TapVerdict::perform(mission));
    EXPECT_EQ(pipe.run(key(EventType::keyDown, f13, true)), TapVerdict::drop());
    EXPECT_EQ(pipe.run(key(EventType::keyUp, f13)), TapVerdict::drop());
}

TEST(TapPipeline, AVerdictBecomesAnyCaseWhateverItHeld) {
    // Over a pass (made in place), over a case that owns memory (destroyed first), and a case
    // whose making may throw over a pass.
    const SmoothScroll smooth = SmoothScroll::defaults();
    const ScrollTick tick{ScrollTick::Sign::negative, 2, smooth};
    TapVerdict verdict = TapVerdict::pass();
    verdict.become(TapVerdict::Scroll{tick});
    EXPECT_EQ(verdict, TapVerdict::scroll(tick));

    const KeyHoldEvent hold =
        KeyHoldEvent::press(KeyHolder::button(mouse, 4),
                            KeyHold{{HeldModifier::leftCommand, HeldModifier::leftShift}, f13});
    verdict = TapVerdict::keys(hold);
    verdict.become(TapVerdict::Drop{});
    EXPECT_EQ(verdict, TapVerdict::drop());
    verdict.become(TapVerdict::Keys{hold});
    EXPECT_EQ(verdict, TapVerdict::keys(hold));

    verdict = TapVerdict::pass();
    verdict.become(TapVerdict::Perform{mission});
    EXPECT_EQ(verdict, TapVerdict::perform(mission));
}

TEST(TapPipeline, WheelNotchesOfSmoothDevicesBecomeTicks) {
    TapRules rules;
    SmoothScroll smooth = SmoothScroll::defaults();
    smooth.duration = 7;
    rules.smoothScroll.emplace(mouse, smooth);
    Pipe pipe(rules);

    pipe.from.detents = 0.4;
    EXPECT_EQ(pipe.run(wheel(1)),
              TapVerdict::scroll(ScrollTick{ScrollTick::Sign::positive, 1, smooth}));
    pipe.from.detents = -2.5;
    EXPECT_EQ(pipe.run(wheel(0, -3)),
              TapVerdict::scroll(ScrollTick{ScrollTick::Sign::negative, 3, smooth}));

    Event continuous = wheel(1);
    continuous.setInteger(IntegerField::scrollIsContinuous, 1);
    Event horizontal = wheel(1);
    horizontal.setInteger(IntegerField::scrollDelta2, 1);
    Event shifted = wheel(1);
    shifted.flags = 0x20000;
    for (Event* e : {&continuous, &horizontal, &shifted}) {
        Event before = *e;
        EXPECT_EQ(pipe.run(*e), TapVerdict::pass());
        EXPECT_EQ(*e, before);
    }
    EXPECT_EQ(pipe.run(wheel(0)), TapVerdict::pass());
    pipe.from.sender = stranger;
    EXPECT_EQ(pipe.run(wheel(1)), TapVerdict::pass());
    pipe.from.sender = std::nullopt;
    EXPECT_EQ(pipe.run(wheel(1)), TapVerdict::pass());
}

TEST(TapPipeline, WheelDetentsThatAreNoUsableNumberStillGiveASaneStepCount) {
    EXPECT_EQ(ScrollStage::steps(0), 1);
    EXPECT_EQ(ScrollStage::steps(1.5), 2);
    EXPECT_EQ(ScrollStage::steps(std::nan("")), 1);
    EXPECT_EQ(ScrollStage::steps(std::numeric_limits<double>::infinity()), 1);
    EXPECT_EQ(ScrollStage::steps(-1e300), std::numeric_limits<int>::max());
}

TEST(TapPipeline, WheelDetentsRoundHalfAwayFromZeroAtEveryEdge) {
    // Just below, at and just above each half, and at the top of the int range.
    for (double half : {0.5, 1.5, 2.5, 1e6 + 0.5, 2147483646.5}) {
        for (double v : {std::nextafter(half, 0.0), half, std::nextafter(half, 1e300)}) {
            const int expected = std::max(1, static_cast<int>(std::round(v)));
            EXPECT_EQ(ScrollStage::steps(v), expected) << v;
            EXPECT_EQ(ScrollStage::steps(-v), expected) << -v;
        }
    }
    EXPECT_EQ(ScrollStage::steps(2147483647.0), std::numeric_limits<int>::max());
    EXPECT_EQ(ScrollStage::steps(std::nextafter(2147483647.0, 1e300)),
              std::numeric_limits<int>::max());
}

TEST(TapPipeline, TicksReferToThePipelinesOwnCopyOfTheSettings) {
    TapRules rules;
    SmoothScroll smooth = SmoothScroll::defaults();
    smooth.brake = 3;
    rules.smoothScroll.emplace(keyboard, SmoothScroll::defaults());
    rules.smoothScroll.emplace(mouse, smooth);
    auto pipe = std::make_unique<Pipe>(rules);
    rules.smoothScroll.clear();  // the caller's rules need not outlive the pipeline's ticks

    const TapVerdict verdict = pipe->run(wheel(1));
    ASSERT_TRUE(is<TapVerdict::Scroll>(verdict));
    const SmoothScroll& settings = as<TapVerdict::Scroll>(verdict)->tick.settings.get();
    EXPECT_EQ(settings, smooth);
    EXPECT_EQ(pipe->pipeline.scroll.settings().front().first, mouse);  // ordered by sender
    EXPECT_EQ(&settings, &pipe->pipeline.scroll.settings().front().second);
}

TEST(TapPipeline, PlainClickOfAGestureButtonIsReplayedWhereItBegan) {
    Pipe pipe(buttonRules({{2, ControlBehavior::gesture(swipePlan())}}));
    Event down = button(EventType::otherMouseDown, 2, {10, 20});
    EXPECT_EQ(pipe.run(down), TapVerdict::drop());
    EXPECT_EQ(pipe.run(drag(2, 3, 0)), TapVerdict::drop());
    auto verdict = pipe.run(button(EventType::otherMouseUp, 2, {13, 20}));
    const auto* replay = as<TapVerdict::Replay>(verdict);
    ASSERT_NE(replay, nullptr);
    Event markedDown = down;
    markedDown.mark();
    EXPECT_EQ(replay->down, markedDown);
    EXPECT_EQ(replay->up.type, EventType::otherMouseUp);
    EXPECT_EQ(replay->up.location, (Event::Location{10, 20}));
    EXPECT_TRUE(replay->up.carriesMarker());

    // A swipe fires past the distance, and the release of a fired gesture is swallowed.
    pipe.run(button(EventType::otherMouseDown, 2));
    EXPECT_EQ(pipe.run(drag(2, -11, 0)), TapVerdict::perform(spaceLeft));
    EXPECT_EQ(pipe.run(button(EventType::otherMouseUp, 2)), TapVerdict::drop());
}

TEST(TapPipeline, HoldScrollButtonPressedAgainEndsTheEarlierHoldScroll) {
    Pipe pipe(buttonRules(
        {{2, ControlBehavior::gesture(scrollPlan())}, {3, ControlBehavior::press(mission)}}));
    pipe.run(button(EventType::otherMouseDown, 2));
    auto began = pipe.run(drag(2, 0, 6));
    ASSERT_TRUE(is<TapVerdict::HoldScroll>(began));
    EXPECT_TRUE(is<HoldScrollEvent::Began>(as<TapVerdict::HoldScroll>(began)->event));

    // While button 2 is held, button 3 is not followed.
    EXPECT_EQ(pipe.run(button(EventType::otherMouseDown, 3)), TapVerdict::pass());
    // A lost up: the next down of the same button ends the hold-scroll still under way.
    EXPECT_EQ(pipe.run(button(EventType::otherMouseDown, 2)),
              TapVerdict::holdScroll(HoldScrollEvent::ended()));
}

TEST(TapPipeline, KeyHoldButtonHoldsKeysAndDragsBecomeMoves) {
    KeyHold hold{{HeldModifier::leftCommand}, std::nullopt};
    Pipe pipe(buttonRules({{4, ControlBehavior::hold(hold)}}));
    EXPECT_EQ(pipe.run(button(EventType::otherMouseDown, 4)),
              TapVerdict::keys(KeyHoldEvent::press(KeyHolder::button(mouse, 4), hold)));
    Event moved = drag(4, 5, 5);
    EXPECT_EQ(pipe.run(moved), TapVerdict::pass());
    EXPECT_EQ(moved.type, EventType::mouseMoved);
    EXPECT_EQ(pipe.run(button(EventType::otherMouseUp, 4)),
              TapVerdict::keys(KeyHoldEvent::release(KeyHolder::button(mouse, 4))));
    // Another service's button 4 has no rule.
    pipe.from.sender = stranger;
    EXPECT_EQ(pipe.run(button(EventType::otherMouseDown, 4)), TapVerdict::pass());
}

// Two mice press the same button number: A first, then B; A lets go first.
struct TwoMice {
    Pipe pipe;
    std::vector<TapVerdict> verdicts;
    std::vector<Event> passed;

    explicit TwoMice(const TapRules& rules) : pipe(rules) {}

    void run(SenderID sender, Event event) {
        pipe.from.sender = sender;
        verdicts.push_back(pipe.run(event));
        passed.push_back(event);
    }
    void pressBoth(std::int64_t number, std::int64_t dx = 0) {
        run(mouse, button(EventType::otherMouseDown, number));
        run(stranger, button(EventType::otherMouseDown, number));
        run(stranger, drag(number, dx, 0));
        run(mouse, button(EventType::otherMouseUp, number));
        run(stranger, button(EventType::otherMouseUp, number));
    }
};

TEST(TapPipeline, ButtonsOfTwoMiceWithTheSameNumberAreToldApart) {
    const KeyHold hold{{HeldModifier::leftCommand}, std::nullopt};
    const auto pass = TapVerdict::pass();
    {
        // A holds keys, B's button has a gesture: A's hold ends with A's up; B is untouched.
        TapRules rules = buttonRules({{3, ControlBehavior::hold(hold)}});
        rules.buttons.emplace(ButtonKey{stranger, 3}, ControlBehavior::gesture(swipePlan()));
        TwoMice mice(rules);
        mice.pressBoth(3);
        EXPECT_EQ(
            mice.verdicts,
            (std::vector<TapVerdict>{
                TapVerdict::keys(KeyHoldEvent::press(KeyHolder::button(mouse, 3), hold)), pass,
                pass, TapVerdict::keys(KeyHoldEvent::release(KeyHolder::button(mouse, 3))), pass}));
        EXPECT_EQ(mice.passed[2], drag(3, 0, 0));  // still a drag, not a move
        EXPECT_EQ(mice.pipe.pipeline.reset(), TapPipeline::Release{});
    }
    {
        // Only B holds keys: A's up passes, and B's hold ends with B's up.
        TapRules rules;
        rules.buttons.emplace(ButtonKey{stranger, 3}, ControlBehavior::hold(hold));
        TwoMice mice(rules);
        mice.pressBoth(3);
        EXPECT_EQ(
            mice.verdicts,
            (std::vector<TapVerdict>{
                pass, TapVerdict::keys(KeyHoldEvent::press(KeyHolder::button(stranger, 3), hold)),
                pass, pass,
                TapVerdict::keys(KeyHoldEvent::release(KeyHolder::button(stranger, 3)))}));
        EXPECT_EQ(mice.passed[2].type, EventType::mouseMoved);  // B's own drag moves
    }
    {
        // A's gesture: B's drag past the distance fires nothing; A's plain click is replayed.
        TwoMice mice(buttonRules({{3, ControlBehavior::gesture(swipePlan())}}));
        mice.pressBoth(3, -50);
        ASSERT_EQ(mice.verdicts.size(), 5u);
        EXPECT_EQ(mice.verdicts[0], TapVerdict::drop());
        EXPECT_EQ((std::vector<TapVerdict>{mice.verdicts[1], mice.verdicts[2], mice.verdicts[4]}),
                  (std::vector<TapVerdict>{pass, pass, pass}));
        EXPECT_TRUE(is<TapVerdict::Replay>(mice.verdicts[3]));
    }
}

TEST(TapPipeline, AButtonAlreadyDownWhenRulesArriveIsToldApart) {
    TwoMice mice(TapRules::empty());
    mice.run(stranger, button(EventType::otherMouseDown, 3));
    mice.pipe.pipeline.rebuild(buttonRules({{3, ControlBehavior::gesture(swipePlan())}}));
    mice.run(mouse, button(EventType::otherMouseDown, 3));
    mice.run(stranger, drag(3, -50, 0));
    mice.run(mouse, drag(3, -50, 0));
    EXPECT_EQ(mice.verdicts,
              (std::vector<TapVerdict>{TapVerdict::pass(), TapVerdict::drop(), TapVerdict::pass(),
                                       TapVerdict::perform(spaceLeft)}));

    // With no other mouse's button of that number down, the held button's drags go on.
    mice.run(stranger, button(EventType::otherMouseUp, 3));
    mice.run(mouse, button(EventType::otherMouseUp, 3));
    mice.run(mouse, button(EventType::otherMouseDown, 3));
    mice.run(mouse, drag(3, 1, 0));
    EXPECT_EQ(mice.verdicts.back(), TapVerdict::drop());
}

TEST(ButtonsDown, PastItsCapacityItAnswersMaybeUntilEveryKnownButtonIsUp) {
    ButtonsDown down;
    down.down(mouse, 3);
    EXPECT_FALSE(down.mayShare(mouse, 3));
    down.down(std::nullopt, 3);  // an event without origin counts as another service's
    EXPECT_TRUE(down.mayShare(mouse, 3));
    down.up(std::nullopt, 3);
    for (std::int64_t number = 10; number < 30; ++number) down.down(stranger, number);
    EXPECT_TRUE(down.mayShare(mouse, 3));
    for (std::int64_t number = 10; number < 30; ++number) down.up(stranger, number);
    EXPECT_TRUE(down.mayShare(mouse, 3));  // mouse's own 3 is still known to be down
    down.up(mouse, 3);
    EXPECT_FALSE(down.mayShare(mouse, 3));
}

TEST(TapPipeline, ListeningSwallowsOnlyTheHeardServicesPress) {
    TapRules rules;
    rules.listen = TapListen{ListenID{3}, {mouse}};
    TwoMice mice(rules);
    mice.pressBoth(4, 9);
    EXPECT_EQ(mice.verdicts,
              (std::vector<TapVerdict>{TapVerdict::heard(ListenID{3}, ListenPress::button(4)),
                                       TapVerdict::pass(), TapVerdict::pass(), TapVerdict::drop(),
                                       TapVerdict::pass()}));

    rules.listen = TapListen{ListenID{4}, {keyboard}};
    mice.pipe.pipeline.rebuild(rules);
    const KeyCode a{0};
    mice.verdicts.clear();
    mice.run(keyboard, key(EventType::keyDown, a));
    mice.run(stranger, key(EventType::keyDown, a, true));
    mice.run(stranger, key(EventType::keyUp, a));
    mice.run(keyboard, key(EventType::keyDown, a, true));
    mice.run(keyboard, key(EventType::keyUp, a));
    EXPECT_EQ(mice.verdicts,
              (std::vector<TapVerdict>{TapVerdict::heard(ListenID{4}, ListenPress::key(a)),
                                       TapVerdict::pass(), TapVerdict::pass(), TapVerdict::drop(),
                                       TapVerdict::drop()}));
}

TEST(TapPipeline, ResetHandsBackWhatMustBeReleased) {
    KeyHold hold{{HeldModifier::leftShift}, std::nullopt};
    Pipe pipe(buttonRules({{2, ControlBehavior::gesture(swipePlan())},
                           {3, ControlBehavior::gesture(scrollPlan())},
                           {4, ControlBehavior::hold(hold)}}));
    EXPECT_EQ(pipe.pipeline.buttons.reset(), ButtonStage::Release{});

    Event down = button(EventType::otherMouseDown, 2);
    pipe.run(down);
    down.mark();
    EXPECT_EQ(pipe.pipeline.buttons.reset(), (ButtonStage::Release{down, false, std::nullopt}));
    // Its up now passes: the replayed down above is its partner.
    EXPECT_EQ(pipe.run(button(EventType::otherMouseUp, 2)), TapVerdict::pass());

    pipe.run(button(EventType::otherMouseDown, 3));
    pipe.run(drag(3, 0, 9));
    EXPECT_EQ(pipe.pipeline.buttons.reset(),
              (ButtonStage::Release{std::nullopt, true, std::nullopt}));

    pipe.run(button(EventType::otherMouseDown, 4));
    EXPECT_EQ(pipe.pipeline.rebuild(TapRules::empty()).buttons,
              (ButtonStage::Release{std::nullopt, false, KeyHolder::button(mouse, 4)}));
    EXPECT_TRUE(pipe.pipeline.buttons.rules().empty());
}

}  // namespace
}  // namespace tindlewave
