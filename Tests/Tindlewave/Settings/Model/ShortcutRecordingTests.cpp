#include <gtest/gtest.h>

#include "Settings/Model/Buttons/ShortcutRecording.h"

namespace tindlewave {
namespace {

using Outcome = ShortcutRecording::Outcome;

// The flags word of a flags-changed event with these side modifiers down.
std::uint64_t flagsWith(std::initializer_list<HeldModifier> down) {
    std::uint64_t flags = 0x100;  // a bit the recording ignores
    for (HeldModifier m : down) flags |= deviceFlag(m) | quartzFlags(generic(m));
    return flags;
}

Outcome change(ShortcutRecording& recording, HeldModifier key, std::initializer_list<HeldModifier> down) {
    return recording.flagsChanged(virtualKeyCode(key), flagsWith(down));
}

TEST(ShortcutRecording, ALoneModifierIsRecordedWhenLetGo) {
    ShortcutRecording recording;
    EXPECT_EQ(recording.hint(), "Type a shortcut, or one modifier");
    EXPECT_EQ(change(recording, HeldModifier::leftShift, {HeldModifier::leftShift}), Outcome::waiting());
    EXPECT_EQ(recording.hint(), "Let go to use Left Shift");
    EXPECT_EQ(change(recording, HeldModifier::leftShift, {}),
              Outcome::record(Action::modifier(HeldModifier::leftShift)));
    EXPECT_EQ(recording, ShortcutRecording{});
    EXPECT_EQ(recording.hint(), "Type a shortcut, or one modifier");

    EXPECT_EQ(change(recording, HeldModifier::rightCommand, {HeldModifier::rightCommand}), Outcome::waiting());
    EXPECT_EQ(recording.hint(), "Let go to use Right Command");
    EXPECT_EQ(change(recording, HeldModifier::rightCommand, {}),
              Outcome::record(Action::modifier(HeldModifier::rightCommand)));
}

TEST(ShortcutRecording, TwoModifiersRecordNothing) {
    ShortcutRecording recording;
    change(recording, HeldModifier::leftShift, {HeldModifier::leftShift});
    EXPECT_EQ(change(recording, HeldModifier::leftCommand, {HeldModifier::leftShift, HeldModifier::leftCommand}),
              Outcome::waiting());
    EXPECT_EQ(recording.hint(), "Now press a key");
    EXPECT_EQ(change(recording, HeldModifier::leftCommand, {HeldModifier::leftShift}), Outcome::waiting());
    EXPECT_EQ(recording.hint(), "Now press a key");
    EXPECT_EQ(change(recording, HeldModifier::leftShift, {}), Outcome::waiting());
    EXPECT_EQ(recording.hint(), "Type a shortcut, or one modifier");

    // Right Option while Left Option is down: both sides of one modifier.
    change(recording, HeldModifier::leftOption, {HeldModifier::leftOption});
    change(recording, HeldModifier::rightOption, {HeldModifier::leftOption, HeldModifier::rightOption});
    EXPECT_EQ(recording.hint(), "Now press a key");
    EXPECT_EQ(change(recording, HeldModifier::rightOption, {HeldModifier::leftOption}), Outcome::waiting());
    EXPECT_EQ(change(recording, HeldModifier::leftOption, {}), Outcome::waiting());
}

TEST(ShortcutRecording, KeysThatAreNoSideModifierOnlyFollowTheFlags) {
    ShortcutRecording recording;
    change(recording, HeldModifier::leftControl, {HeldModifier::leftControl});
    const std::uint16_t capsLock = 0x39;
    EXPECT_EQ(recording.flagsChanged(capsLock, flagsWith({HeldModifier::leftControl}) | 0x10000),
              Outcome::waiting());
    EXPECT_EQ(recording.lone, HeldModifier::leftControl);
    EXPECT_EQ(recording.held, Modifiers::control);
    EXPECT_EQ(change(recording, HeldModifier::leftControl, {}),
              Outcome::record(Action::modifier(HeldModifier::leftControl)));
}

}  // namespace
}  // namespace tindlewave
