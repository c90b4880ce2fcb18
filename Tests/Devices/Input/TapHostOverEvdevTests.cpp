// End to end: the program's tap host over the Linux event system and emulated devices.

#include <gtest/gtest.h>

#include "Core/Keys/KeyRoutes.h"
#include "EventDeviceWorld.h"
#include "Runtime/Executors/Channel.h"
#include "Runtime/Tap/TapHost.h"

namespace tindlewave::testkit::umockdev {
namespace {

int count(const std::vector<Code>& codes, int type, int code) {
    return static_cast<int>(std::count_if(codes.begin(), codes.end(), [&](const Code& c) {
        return std::get<0>(c) == type && std::get<1>(c) == code;
    }));
}

TEST(TapHostOverEvdev, WheelGlidesHyperKeyAndButtonHoldReachTheDesktopAndTheQuitLeavesNothing) {
    EventDeviceWorld world;
    const auto mouseID = world.idOf(world.mouse);
    ASSERT_TRUE(mouseID);
    const SenderID mouse{*mouseID};
    TapRules rules;
    rules.carriers.emplace(Carrier::hyperKey().keyCode, CarrierMeaning::holdModifiers(Modifiers::hyper));
    rules.smoothScroll.emplace(mouse, SmoothScroll::defaults());
    rules.buttons.emplace(ButtonKey{mouse, 4},
                          ControlBehavior::hold(KeyHold{{HeldModifier::leftOption}, std::nullopt}));
    Channel<TapSignal> signals(Buffering::unbounded);
    Channel<Action> actions(Buffering::unbounded);
    std::unique_ptr<TapHost> host;
    world.onInput([&] {
        host = std::make_unique<TapHost>(*world.events, world.input, signals, actions);
        host->follow(TapOrder{true, rules});
    });
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return world.grabbed().size() == 3; }));
    const std::string keyboard = "Tindlewave virtual keyboard";

    // A notch of the smoothed mouse becomes glide frames on its own mirror, in high resolution.
    world.mouseSide->send({{EV_REL, REL_WHEEL, 1}, {EV_REL, REL_WHEEL_HI_RES, 120}});
    ASSERT_TRUE(EventDeviceWorld::eventually(
        [&] { return count(world.uinput->written("Test USB Mouse"), EV_REL, REL_WHEEL_HI_RES) >= 3; }));
    const auto glide = world.uinput->written("Test USB Mouse");
    EXPECT_NE(std::vector<Code>(glide.begin(), glide.begin() + 2),
              (std::vector<Code>{{EV_REL, REL_WHEEL, 1}, {EV_REL, REL_WHEEL_HI_RES, 120}}));

    // The hyper key's F18 held: the four modifiers go down on the program's keyboard, and F18
    // itself never reaches the desktop.
    world.keyboardSide->send({{EV_KEY, KEY_F18, 1}});
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return count(world.uinput->written(keyboard), EV_KEY, KEY_LEFTMETA) == 1; }));
    EXPECT_EQ(world.uinput->take(keyboard),
              (std::vector<Code>{{EV_KEY, KEY_LEFTCTRL, 1}, {EV_KEY, KEY_LEFTSHIFT, 1},
                                 {EV_KEY, KEY_LEFTALT, 1}, {EV_KEY, KEY_LEFTMETA, 1}, {EV_SYN, SYN_REPORT, 0}}));
    world.keyboardSide->send({{EV_KEY, KEY_F18, 0}});
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return count(world.uinput->written(keyboard), EV_KEY, KEY_LEFTMETA) == 1; }));
    EXPECT_TRUE(nothingDown(world.uinput->take(keyboard)));
    EXPECT_EQ(count(world.uinput->written("Test Keyboard"), EV_KEY, KEY_F18), 0);
    // The input executor updates the flags after it has written the release: wait for them.
    EXPECT_TRUE(EventDeviceWorld::eventually([&] { return world.events->flagsState() == 0u; }))
        << world.events->flagsState();

    // A button with a hold rule holds its modifier while it is down.
    world.mouseSide->send({{EV_KEY, BTN_EXTRA, 1}});
    ASSERT_TRUE(EventDeviceWorld::eventually([&] { return count(world.uinput->written(keyboard), EV_KEY, KEY_LEFTALT) == 1; }));
    EXPECT_EQ(world.uinput->written(keyboard), (std::vector<Code>{{EV_KEY, KEY_LEFTALT, 1}, {EV_SYN, SYN_REPORT, 0}}));
    EXPECT_EQ(count(world.uinput->written("Test USB Mouse"), EV_KEY, BTN_EXTRA), 0);

    // The quit, with the button still down: no grab stays, nothing stays down anywhere.
    world.onInput([&] {
        host->shutdown();
        host.reset();
    });
    EXPECT_TRUE(world.grabbed().empty());
    EXPECT_FALSE(world.mouseSide->isGrabbed());
    EXPECT_FALSE(world.keyboardSide->isGrabbed());
    EXPECT_FALSE(world.hidppSide->isGrabbed());
    world.onInput([] {});  // the posts of the quit
    for (const auto& device : world.uinput->devices())
        EXPECT_TRUE(nothingDown(device.written)) << device.description.name;
}

}  // namespace
}  // namespace tindlewave::testkit::umockdev
