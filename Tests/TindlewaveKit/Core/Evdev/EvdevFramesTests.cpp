#include <gtest/gtest.h>

#include <bitset>
#include <initializer_list>
#include <tuple>
#include <vector>

#include "Core/Evdev/EvdevKeys.h"
#include "Core/Evdev/FrameEvents.h"
#include "Core/Evdev/VirtualKeyboardState.h"

namespace tindlewave {
namespace {

using Code = std::tuple<int, int, int>;  // type, code, value

std::vector<input_event> frame(std::initializer_list<Code> codes) {
    std::vector<input_event> out;
    for (auto [type, code, value] : codes) {
        input_event e{};
        e.time.tv_sec = 7;
        e.type = static_cast<std::uint16_t>(type);
        e.code = static_cast<std::uint16_t>(code);
        e.value = value;
        out.push_back(e);
    }
    input_event syn{};
    syn.time.tv_sec = 7;
    out.push_back(syn);
    return out;
}

std::vector<Code> codesOf(std::span<const input_event> list) {
    std::vector<Code> out;
    for (const auto& e : list) out.emplace_back(e.type, e.code, e.value);
    return out;
}

FrameEventList translate(EvdevNodeState& node, const std::vector<input_event>& codes,
                         FrameContext context = {}) {
    FrameEventList events;
    node.translate(codes, context, events);
    node.commit(codes);
    return events;
}

const Code syn{EV_SYN, SYN_REPORT, 0};

TEST(FrameAssembler, FramesEndAtReportAndDroppedCodesResync) {
    FrameAssembler assembler;
    auto codes = frame({{EV_REL, REL_X, 1}, {EV_REL, REL_Y, 2}});
    EXPECT_EQ(assembler.add(codes[0]), FrameAssembler::Step::more);
    EXPECT_EQ(assembler.add(codes[1]), FrameAssembler::Step::more);
    ASSERT_EQ(assembler.add(codes[2]), FrameAssembler::Step::frame);
    EXPECT_EQ(codesOf(assembler.frame().codes()),
              (std::vector<Code>{{EV_REL, REL_X, 1}, {EV_REL, REL_Y, 2}, syn}));

    // A half frame, the overflow, the rest of the lost frame: nothing comes out but a resync.
    input_event dropped{};
    dropped.type = EV_SYN;
    dropped.code = SYN_DROPPED;
    EXPECT_EQ(assembler.add(codes[0]), FrameAssembler::Step::more);
    EXPECT_EQ(assembler.add(dropped), FrameAssembler::Step::more);
    EXPECT_EQ(assembler.add(codes[1]), FrameAssembler::Step::more);
    EXPECT_EQ(assembler.add(codes[2]), FrameAssembler::Step::resync);
    // The next frame is whole again.
    EXPECT_EQ(assembler.add(codes[1]), FrameAssembler::Step::more);
    ASSERT_EQ(assembler.add(codes[2]), FrameAssembler::Step::frame);
    EXPECT_EQ(assembler.frame().size(), 2u);

    // A frame longer than the capacity is cut, and no code is lost.
    int seen = 0;
    for (int i = 0; i < 100; ++i) {
        if (assembler.add(codes[0]) == FrameAssembler::Step::frame)
            seen += static_cast<int>(assembler.frame().size()) - 1;
    }
    ASSERT_EQ(assembler.add(codes[2]), FrameAssembler::Step::frame);
    seen += static_cast<int>(assembler.frame().size()) - 1;
    EXPECT_EQ(seen, 100);
}

TEST(EvdevNodeState, ButtonsMotionAndDragOfTheLowestHeldButton) {
    EvdevNodeState node;
    FrameContext context;
    context.cursor = {100, 200};
    auto moved = translate(node, frame({{EV_REL, REL_X, 3}, {EV_REL, REL_Y, -4}}), context);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].event.type, EventType::mouseMoved);
    EXPECT_EQ(moved[0].event.integer(IntegerField::deltaX), 3);
    EXPECT_EQ(moved[0].event.integer(IntegerField::deltaY), -4);
    EXPECT_EQ(moved[0].event.location, (Event::Location{100, 200}));

    auto presses = translate(node, frame({{EV_MSC, MSC_SCAN, 0x90005},
                                          {EV_KEY, BTN_EXTRA, 1},
                                          {EV_KEY, BTN_RIGHT, 1}}));
    ASSERT_EQ(presses.size(), 2u);
    EXPECT_EQ(presses[0].event.type, EventType::otherMouseDown);
    EXPECT_EQ(presses[0].event.integer(IntegerField::buttonNumber), 4);
    EXPECT_EQ(presses[0].codes, 0b011u);  // its scan code goes with it
    EXPECT_EQ(presses[1].event.type, EventType::rightMouseDown);
    EXPECT_EQ(presses[1].event.integer(IntegerField::buttonNumber), 1);
    EXPECT_EQ(node.buttons(), 0b10010);

    auto drag = translate(node, frame({{EV_REL, REL_X, 1}}));
    EXPECT_EQ(drag[0].event.type, EventType::rightMouseDragged);
    EXPECT_EQ(drag[0].event.integer(IntegerField::buttonNumber), 1);
    translate(node, frame({{EV_KEY, BTN_RIGHT, 0}}));
    drag = translate(node, frame({{EV_REL, REL_Y, 1}}));
    EXPECT_EQ(drag[0].event.type, EventType::otherMouseDragged);
    EXPECT_EQ(drag[0].event.integer(IntegerField::buttonNumber), 4);
    EXPECT_EQ(node.types(frame({{EV_REL, REL_Y, 1}})), eventMaskBit(EventType::otherMouseDragged));
    auto up = translate(node, frame({{EV_KEY, BTN_EXTRA, 0}}));
    EXPECT_EQ(up[0].event.type, EventType::otherMouseUp);
    EXPECT_EQ(node.types(frame({{EV_REL, REL_Y, 1}, {EV_KEY, BTN_LEFT, 1}})),
              eventMaskBit(EventType::mouseMoved) | eventMaskBit(EventType::leftMouseDown));
}

TEST(EvdevNodeState, KeysAutorepeatAndModifiersAsFlags) {
    EvdevNodeState node;
    FrameContext context;
    context.otherModifiers = ModifierKeys::of(HeldModifier::rightOption);  // another keyboard's
    auto shift = translate(node, frame({{EV_KEY, KEY_LEFTSHIFT, 1}}), context);
    ASSERT_EQ(shift.size(), 1u);
    EXPECT_EQ(shift[0].event.type, EventType::flagsChanged);
    EXPECT_EQ(shift[0].event.integer(IntegerField::keyCode), 0x38);
    EXPECT_EQ(shift[0].event.flags, 0x2u | 0x20000u | 0x40u | 0x80000u);

    context.capsLock = true;
    auto a = translate(node, frame({{EV_MSC, MSC_SCAN, 0x70004}, {EV_KEY, KEY_A, 1}}), context);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].event.type, EventType::keyDown);
    EXPECT_EQ(a[0].event.integer(IntegerField::keyCode), 0x00);
    EXPECT_EQ(a[0].event.integer(IntegerField::autorepeat), 0);
    EXPECT_EQ(a[0].event.flags, 0x2u | 0x20000u | 0x40u | 0x80000u | 0x10000u);
    auto repeat = translate(node, frame({{EV_KEY, KEY_A, 2}}), context);
    EXPECT_EQ(repeat[0].event.type, EventType::keyDown);
    EXPECT_EQ(repeat[0].event.integer(IntegerField::autorepeat), 1);
    EXPECT_EQ(node.types(frame({{EV_KEY, KEY_A, 2}})), eventMaskBit(EventType::keyDown));

    // A modifier's own repeats and keys the program does not name make no event.
    EXPECT_TRUE(translate(node, frame({{EV_KEY, KEY_LEFTSHIFT, 2}, {EV_KEY, KEY_KP1, 1}})).empty());
    EXPECT_EQ(node.types(frame({{EV_KEY, KEY_KP1, 1}})), 0u);

    auto released = translate(node, frame({{EV_KEY, KEY_LEFTSHIFT, 0}, {EV_KEY, KEY_A, 0}}));
    ASSERT_EQ(released.size(), 2u);
    EXPECT_EQ(released[0].event.flags, 0u);
    EXPECT_EQ(released[1].event.type, EventType::keyUp);
    EXPECT_TRUE(node.modifiers().isEmpty());
}

TEST(EvdevNodeState, OneWheelEventPerFrameAndStickyContinuity) {
    EvdevNodeState node;
    // A plain notch, without high resolution.
    auto notch = translate(node, frame({{EV_REL, REL_WHEEL, -1}}));
    ASSERT_EQ(notch.size(), 1u);
    EXPECT_EQ(notch[0].event.integer(IntegerField::scrollDelta1), -1);
    EXPECT_EQ(notch[0].event.fixedPoint(FixedPointField::scrollFixedDelta1), -1.0);
    EXPECT_EQ(notch[0].wheelDetents, -1.0);
    EXPECT_EQ(notch[0].event.integer(IntegerField::scrollIsContinuous), 0);

    // A detent of a high-resolution wheel: both codes, one event, still a whole detent.
    auto detent = translate(node, frame({{EV_REL, REL_WHEEL, 1}, {EV_REL, REL_WHEEL_HI_RES, 120}}));
    ASSERT_EQ(detent.size(), 1u);
    EXPECT_EQ(detent[0].codes, 0b11u);
    EXPECT_EQ(detent[0].event.integer(IntegerField::scrollDelta1), 1);
    EXPECT_EQ(detent[0].wheelDetents, 1.0);
    EXPECT_EQ(detent[0].event.integer(IntegerField::scrollIsContinuous), 0);

    // A fraction of a detent makes the wheel continuous, for good.
    auto fine = translate(node, frame({{EV_REL, REL_WHEEL_HI_RES, 30}, {EV_REL, REL_HWHEEL_HI_RES, -60}}));
    ASSERT_EQ(fine.size(), 1u);
    EXPECT_EQ(fine[0].event.integer(IntegerField::scrollDelta1), 0);
    EXPECT_EQ(fine[0].event.fixedPoint(FixedPointField::scrollFixedDelta1), 0.25);
    EXPECT_EQ(fine[0].event.fixedPoint(FixedPointField::scrollFixedDelta2), 0.5);
    EXPECT_EQ(fine[0].event.integer(IntegerField::scrollIsContinuous), 1);
    auto later = translate(node, frame({{EV_REL, REL_WHEEL, 1}, {EV_REL, REL_WHEEL_HI_RES, 120}}));
    EXPECT_EQ(later[0].event.integer(IntegerField::scrollIsContinuous), 1);
}

// After lost codes: every key let go of meanwhile goes up before any that went down goes down,
// and the lights that changed come last in one frame; committed, the state is the node's.
TEST(EvdevNodeState, CatchUpTellsUpsThenDownsThenLightsAndEndsAtTheNodesState) {
    EvdevNodeState node;
    translate(node, frame({{EV_KEY, KEY_L, 1}, {EV_KEY, BTN_LEFT, 1}, {EV_LED, LED_NUML, 1}}));
    std::bitset<KEY_CNT> keys;
    keys.set(KEY_I);
    keys.set(KEY_L);
    std::bitset<LED_CNT> leds;
    leds.set(LED_CAPSL);
    std::vector<InputFrame> frames;
    node.catchUp(keys, leds, timeval{7, 0}, frames);
    std::vector<std::vector<Code>> told;
    for (const InputFrame& f : frames) told.push_back(codesOf(f.codes()));
    EXPECT_EQ(told, (std::vector<std::vector<Code>>{
                        {{EV_KEY, BTN_LEFT, 0}, syn},
                        {{EV_KEY, KEY_I, 1}, syn},
                        {{EV_LED, LED_NUML, 0}, {EV_LED, LED_CAPSL, 1}, syn}}));
    for (const InputFrame& f : frames) node.commit(f.codes());
    EXPECT_EQ(node.buttons(), 0);
    frames.clear();
    node.catchUp(keys, leds, timeval{7, 0}, frames);
    EXPECT_TRUE(frames.empty());
}

// What goes to the mirror once the taps answered.
TEST(RebuildFrame, PassedVerbatimChangedMadeAnewSwallowedLeftOut) {
    EvdevNodeState node;
    auto codes = frame({{EV_REL, REL_X, 2}, {EV_MSC, MSC_SCAN, 9}, {EV_KEY, BTN_SIDE, 1},
                        {EV_REL, REL_WHEEL, 1}, {EV_REL, REL_WHEEL_HI_RES, 120}, {EV_REL, REL_DIAL, 5}});
    FrameEventList events;
    node.translate(codes, {}, events);
    ASSERT_EQ(events.size(), 3u);  // motion, button, wheel
    CodeList out;

    rebuildFrame(codes, events, true, out);
    EXPECT_EQ(codesOf(out), codesOf(codes));

    // Only the flags changed: that travels as modifier keys, the codes stay as they came.
    FrameEventList list;
    for (auto entry : events) {
        entry.event.flags |= 0x100000;
        list.push_back(entry);
    }
    rebuildFrame(codes, list, true, out);
    EXPECT_EQ(codesOf(out), codesOf(codes));

    // The button swallowed (its scan with it), the wheel reversed, motion not forwarded.
    list.clear();
    for (auto entry : events) {
        if (entry.event.type == EventType::otherMouseDown) entry.passes = false;
        if (entry.event.type == EventType::scrollWheel) {
            entry.event.setInteger(IntegerField::scrollDelta1, -1);
            entry.event.setFixedPoint(FixedPointField::scrollFixedDelta1, -1.0);
        }
        list.push_back(entry);
    }
    rebuildFrame(codes, list, false, out);
    EXPECT_EQ(codesOf(out), (std::vector<Code>{{EV_REL, REL_DIAL, 5},
                                               {EV_REL, REL_WHEEL, -1},
                                               {EV_REL, REL_WHEEL_HI_RES, -120},
                                               syn}));
    // Everything swallowed: nothing to write at all.
    auto key = frame({{EV_KEY, KEY_B, 1}});
    list.clear();
    {
        FrameEventList one;
        node.translate(key, {}, one);
        FrameEvent entry = one[0];
        entry.passes = false;
        list.push_back(entry);
    }
    rebuildFrame(key, list, true, out);
    EXPECT_TRUE(out.empty());

    withoutMotion(frame({{EV_REL, REL_X, 1}, {EV_REL, REL_Y, 1}}), out);
    EXPECT_TRUE(out.empty());
    withoutMotion(frame({{EV_REL, REL_X, 1}, {EV_KEY, BTN_LEFT, 1}}), out);
    EXPECT_EQ(codesOf(out), (std::vector<Code>{{EV_KEY, BTN_LEFT, 1}, syn}));
}

TEST(AppendCodes, ChangedEventsBackToCodes) {
    CodeList out;
    Event button;
    button.type = EventType::otherMouseUp;
    button.setInteger(IntegerField::buttonNumber, 3);
    appendCodes(button, {}, true, out);
    Event key;
    key.type = EventType::keyDown;
    key.setInteger(IntegerField::keyCode, KeyCode::named("f5")->rawValue);
    key.setInteger(IntegerField::autorepeat, 1);
    appendCodes(key, {}, true, out);
    Event flags;
    flags.type = EventType::flagsChanged;
    flags.flags = 0x1E0000;
    appendCodes(flags, {}, true, out);
    Event horizontal;
    horizontal.type = EventType::scrollWheel;
    horizontal.setInteger(IntegerField::scrollDelta2, 2);
    appendCodes(horizontal, {}, true, out);
    EXPECT_EQ(codesOf(out), (std::vector<Code>{{EV_KEY, BTN_SIDE, 0},
                                               {EV_KEY, KEY_F5, 2},
                                               {EV_REL, REL_HWHEEL, -2},
                                               {EV_REL, REL_HWHEEL_HI_RES, -240}}));
}

TEST(VirtualKeyboardState, ChangedFlagsBecomeModifierKeysAndPostedKeysCarryExactlyTheirFlags) {
    VirtualKeyboardState keyboard;
    CodeList out;
    const std::uint64_t hyper = quartzFlags(Modifiers::hyper);
    // The hyper key's down: the four modifiers go down in one frame.
    keyboard.follow(0, hyper, {}, {}, out);
    EXPECT_EQ(codesOf(out), (std::vector<Code>{{EV_KEY, KEY_LEFTCTRL, 1},
                                               {EV_KEY, KEY_LEFTSHIFT, 1},
                                               {EV_KEY, KEY_LEFTALT, 1},
                                               {EV_KEY, KEY_LEFTMETA, 1},
                                               syn}));
    const ModifierKeys four = ModifierKeys::forFlags(hyper);
    EXPECT_EQ(keyboard.held(), four);
    // The flags stay as asked for (no side bits), so taking the generic bits away lets go.
    EXPECT_EQ(keyboard.heldFlags(), hyper);

    // A posted Command-C while they are held: only Command stays for the key, then all four
    // come back; the held set never changed.
    out.clear();
    Event c;
    c.type = EventType::keyDown;
    c.flags = QuartzFlag::command;
    c.setInteger(IntegerField::keyCode, 0x08);
    keyboard.key(c, {}, {}, out);
    c.type = EventType::keyUp;
    keyboard.key(c, {}, {}, out);
    EXPECT_EQ(codesOf(out), (std::vector<Code>{{EV_KEY, KEY_LEFTCTRL, 0},
                                               {EV_KEY, KEY_LEFTSHIFT, 0},
                                               {EV_KEY, KEY_LEFTALT, 0},
                                               syn,
                                               {EV_KEY, KEY_C, 1},
                                               syn,
                                               {EV_KEY, KEY_C, 0},
                                               syn,
                                               {EV_KEY, KEY_LEFTCTRL, 1},
                                               {EV_KEY, KEY_LEFTSHIFT, 1},
                                               {EV_KEY, KEY_LEFTALT, 1},
                                               syn}));
    EXPECT_EQ(keyboard.held(), four);

    // The hyper key's up; a modifier a real keyboard holds is never touched here.
    out.clear();
    const auto shiftOnDevice = ModifierKeys::of(HeldModifier::leftShift);
    keyboard.follow(hyper, 0, shiftOnDevice, {}, out);
    EXPECT_TRUE(keyboard.held().isEmpty());
    EXPECT_EQ(keyboard.heldFlags(), 0u);
    out.clear();
    keyboard.follow(0, QuartzFlag::shift, shiftOnDevice, {}, out);
    EXPECT_TRUE(out.empty());

    // A tap of right Option, as the action performer posts it.
    keyboard.follow(0, 0x80040, {}, {}, out);
    keyboard.follow(0x80040, 0, {}, {}, out);
    EXPECT_EQ(codesOf(out), (std::vector<Code>{{EV_KEY, KEY_RIGHTALT, 1}, syn,
                                               {EV_KEY, KEY_RIGHTALT, 0}, syn}));
}

TEST(WheelAxis, HighResolutionWithADetentEachWholeDetentOfTheRunningSum) {
    WheelAxis axis;
    int detents = 0, hiRes = 0;
    std::vector<int> detentAt;
    for (int i = 0; i < 40; ++i) {
        auto step = axis.add(10.5);  // 420 units in all
        hiRes += step.hiRes;
        detents += step.detents;
        if (step.detents != 0) detentAt.push_back(i);
    }
    EXPECT_EQ(hiRes, 420);
    EXPECT_EQ(detents, 3);
    EXPECT_EQ(detentAt, (std::vector<int>{11, 22, 34}));
    // Going back gives a detent back only once a whole detent has been undone.
    EXPECT_EQ(axis.add(-59).detents, 0);
    EXPECT_EQ(axis.add(-61).detents, 0);
    EXPECT_EQ(axis.add(-60).detents, -1);
    EXPECT_EQ(axis.add(std::numeric_limits<double>::quiet_NaN()).hiRes, 0);

    // A smooth-scroll frame of 40 points is one detent's worth.
    WheelAxis vertical, horizontal;
    CodeList out;
    Event frameEvent;
    frameEvent.type = EventType::scrollWheel;
    frameEvent.setFixedPoint(FixedPointField::scrollFixedDelta1, 4.0);
    appendPostedWheel(frameEvent, vertical, horizontal, {}, out);
    EXPECT_EQ(codesOf(out), (std::vector<Code>{{EV_REL, REL_WHEEL, 1},
                                               {EV_REL, REL_WHEEL_HI_RES, 120}, syn}));
}

}  // namespace
}  // namespace tindlewave
