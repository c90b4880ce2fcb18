#include <gtest/gtest.h>

#include "Core/Listening/Listener.h"
#include "Model/Rule.h"

namespace tindlewave {
namespace {

const DeviceMatch mouse = DeviceMatch::device(VendorID{0x46D}, ProductID{0xB023});

Listener armedListener() {
    Listener listener;
    listener.state = Listener::State::armed(
        {ListenID{2}, mouse, DeviceInstanceID{5}, Date{std::chrono::seconds{100}}});
    listener.nextID = 3;
    return listener;
}

TEST(Listener, OnlyTheArmedListenHears) {
    Listener listener = armedListener();
    const Listener before = listener;
    EXPECT_EQ(listener.hear(ListenSource::tap(ListenID{1})), std::nullopt);
    EXPECT_EQ(listener.hear(ListenSource::device(DeviceInstanceID{6})), std::nullopt);
    EXPECT_EQ(listener, before);

    const auto heard = listener.hear(ListenSource::tap(ListenID{2}));
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->device, DeviceInstanceID{5});
    EXPECT_TRUE(is<Listener::State::Idle>(listener.state));
    EXPECT_EQ(listener.nextID, 3u);
    EXPECT_EQ(listener.hear(ListenSource::tap(ListenID{2})), std::nullopt);

    listener = armedListener();
    EXPECT_TRUE(listener.hear(ListenSource::device(DeviceInstanceID{5})));

    listener.state = Listener::State::ended(mouse, ListenEnd::timedOut);
    EXPECT_EQ(listener.hear(ListenSource::device(DeviceInstanceID{5})), std::nullopt);
    EXPECT_EQ(listener.state, Listener::State::ended(mouse, ListenEnd::timedOut));
}

TEST(ListenPlan, NamesPresses) {
    ListenPlan plan{{ListenID{1}, DeviceInstanceID{1}}, {}};
    EXPECT_EQ(plan.heard(ListenPress::hidpp(CID{0xC3})), Heard::control(Control::hidpp(CID{0xC3})));
    EXPECT_EQ(plan.heard(ListenPress::thumbWheel()), Heard::control(Control::thumbWheel()));
    EXPECT_EQ(plan.heard(ListenPress::button(0)), Heard::unnamed());
    EXPECT_EQ(plan.heard(ListenPress::button(1)), Heard::control(Control::button(1)));
    EXPECT_EQ(plan.heard(ListenPress::button(31)), Heard::control(Control::button(31)));
    EXPECT_EQ(plan.heard(ListenPress::button(32)), Heard::unnamed());

    EXPECT_EQ(plan.heard(ListenPress::key(KeyCode{0x7A})),
              Heard::control(Control::key(HIDUsage{0x3A})));
    EXPECT_EQ(plan.heard(ListenPress::key(KeyCode{79})),
              Heard::unnamed());  // F18, not in the table
    plan.carrierSources[KeyCode{79}] = HIDUsage{0x39};
    EXPECT_EQ(plan.heard(ListenPress::key(KeyCode{79})),
              Heard::control(Control::key(HIDUsage{0x39})));
    // A carrier source wins over the key table's own row for the same key code.
    plan.carrierSources[KeyCode{0x7A}] = HIDUsage{0x04};
    EXPECT_EQ(plan.heard(ListenPress::key(KeyCode{0x7A})),
              Heard::control(Control::key(HIDUsage{0x04})));
}

TEST(ListenPress, DescriptionsAndIds) {
    EXPECT_EQ(ListenPress::hidpp(CID{0x00C3}).description(), "control 0xC3");
    EXPECT_EQ(ListenPress::button(5).description(), "button 5");
    EXPECT_EQ(ListenPress::key(KeyCode{12}).description(), "key code 12");
    EXPECT_EQ(ListenPress::thumbWheel().description(), "the thumb wheel");
    EXPECT_EQ(toText(ListenID{12}), "#12");
}

}  // namespace
}  // namespace tindlewave
