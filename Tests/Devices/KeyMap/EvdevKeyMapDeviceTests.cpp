#include <gtest/gtest.h>

#include <algorithm>

#include "Core/Evdev/EvdevKeys.h"
#include "Core/Devices/ConfigMatching.h"
#include "Model/Config.h"
#include "Platform/Linux/KeyMap/EvdevKeyMap.h"
#include "Platform/Linux/Devices/LinuxDeviceRegistry.h"
#include "Runtime/KeyMap/KeyMapWriter.h"
#include "Runtime/Worlds/LinuxWorld.h"
#include "TestKit/TempFolder.h"
#include "TestKit/Umockdev/Fixtures.h"
#include "TestKit/Umockdev/Testbed.h"
#include "KeyTableSide.h"

namespace tindlewave::testkit::umockdev {

ScanCodeMap hidKeyboardTable() {
    ScanCodeMap table;
    for (std::uint16_t usage = 0x04; usage <= 0xE7; ++usage) {
        auto key = evdevkeys::evdevCode(HIDUsage{usage});
        table[0x70000 + usage] = key ? *key : 0;  // the kernel lists usages without a key as 0
    }
    return table;
}

ScanCodeMap laptopKeyboardTable() {
    return {{0x01, 1}, {0x1E, 30}, {0x1F, 31}, {0x2A, 42}, {0x3A, 58}, {0x3B, 59}, {0x38, 56}};
}

namespace {

using namespace KeyMapWriter;

constexpr std::uint16_t keyCapsLock = 58, keyF18 = 188;

const std::string usbKeyboardMatching =
    hidutilKeyboardMatching(DeviceMatch::device(VendorID{0x3412}, ProductID{0x7801}));

KeyMapSetup hyperOnCapsLock() {
    return {{{HIDUsage{0x39},
              KeyTarget::carrier(Carrier::hyperKey(), CarrierMeaning::holdModifiers({}))}}};
}

// An emulated machine with keyboards, the registry listing them once, and the key map over it.
struct KeyMapWorld {
    Testbed testbed;
    TempFolder runtime;
    std::unique_ptr<LinuxDeviceRegistry> registry;
    std::unique_ptr<EvdevKeyMap> keyMap;

    void list() {
        registry = std::make_unique<LinuxDeviceRegistry>();
        keyMap = makeKeyMap();
    }
    std::unique_ptr<EvdevKeyMap> makeKeyMap() {
        return std::make_unique<EvdevKeyMap>([this] { return LinuxWorld::keyboards(*registry); },
                                             runtime / "keymap", "8c3f0e2a-1b2c-4d5e-9f00-123456789abc");
    }
    KeyMapHost host() { return {.backend = keyMap.get()}; }
    // The key map goes before the testbed.
    ~KeyMapWorld() {
        keyMap.reset();
        registry.reset();
    }
};

TEST(EvdevKeyMapDevices, CapsLockToF18IsWrittenAndReadBackOnAUsbKeyboard) {
    KeyMapWorld world;
    const auto keyboard = usbKeyboard(1);
    ASSERT_TRUE(world.testbed.add(keyboard.text()));
    KeyTableSide side(world.testbed, keyboard.event, hidKeyboardTable());
    world.list();

    ASSERT_EQ(*readNow(world.host(), usbKeyboardMatching), Pairs{});
    ASSERT_TRUE(writeNow(world.host(), hyperOnCapsLock(), usbKeyboardMatching).ok());
    EXPECT_EQ(side.table().at(0x70039), keyF18);
    EXPECT_EQ(*readNow(world.host(), usbKeyboardMatching), (Pairs{{0x700000039, 0x70000006D}}));
    // Nothing else of the table moved.
    auto expected = hidKeyboardTable();
    expected[0x70039] = keyF18;
    EXPECT_EQ(side.table(), expected);
}

TEST(EvdevKeyMapDevices, AnEmptySetUpRestoresTheBaselineKeptForThisBoot) {
    KeyMapWorld world;
    const auto keyboard = usbKeyboard(1);
    ASSERT_TRUE(world.testbed.add(keyboard.text()));
    KeyTableSide side(world.testbed, keyboard.event, hidKeyboardTable());
    world.list();
    ASSERT_TRUE(writeNow(world.host(), hyperOnCapsLock(), usbKeyboardMatching).ok());

    // A run that ended without undoing it: the next one knows the baseline from the runtime
    // folder, so even a route onto a non-carrier key is found and undone.
    KeyMapSetup toRightOption = {{{HIDUsage{0x3A}, KeyTarget::native(HIDUsage{0xE6})}}};
    ASSERT_TRUE(writeNow(world.host(), toRightOption, usbKeyboardMatching).ok());
    world.keyMap = world.makeKeyMap();
    EXPECT_EQ(*readNow(world.host(), usbKeyboardMatching), (Pairs{{0x70000003A, 0x7000000E6}}));
    ASSERT_TRUE(writeNow(world.host(), KeyMapSetup{}, usbKeyboardMatching).ok());
    EXPECT_EQ(side.table(), hidKeyboardTable());
}

TEST(EvdevKeyMapDevices, ACarrierLeftWithoutABaselineIsFoundAndUndone) {
    KeyMapWorld world;
    const auto keyboard = usbKeyboard(1);
    ASSERT_TRUE(world.testbed.add(keyboard.text()));
    auto left = hidKeyboardTable();
    left[0x70039] = keyF18;  // a crashed run's, with the runtime folder gone since
    KeyTableSide side(world.testbed, keyboard.event, left);
    world.list();

    auto read = readNow(world.host(), usbKeyboardMatching);
    ASSERT_TRUE(read.ok());
    EXPECT_TRUE(KeyMapSetup::tindlewaveLeftover(*read).has_value());
    ASSERT_TRUE(writeNow(world.host(), KeyMapSetup{}, usbKeyboardMatching).ok());
    EXPECT_EQ(side.table().at(0x70039), keyCapsLock);
}

TEST(EvdevKeyMapDevices, NoMatchingKeyboardReadsEmptyAndAWriteMatchesNothing) {
    KeyMapWorld world;
    const auto keyboard = usbKeyboard(1);
    ASSERT_TRUE(world.testbed.add(keyboard.text()));
    KeyTableSide side(world.testbed, keyboard.event, hidKeyboardTable());
    world.list();
    const auto other = hidutilKeyboardMatching(DeviceMatch::device(VendorID{0x46D}, ProductID{0xC52B}));
    EXPECT_EQ(*readNow(world.host(), other), Pairs{});
    EXPECT_EQ(writeNow(world.host(), hyperOnCapsLock(), other).error(), KeyMapError::noServiceMatched());
    EXPECT_EQ(side.table(), hidKeyboardTable());
}

TEST(EvdevKeyMapDevices, APS2KeyboardIsTheBuiltInOneAndFoundByItsTable) {
    KeyMapWorld world;
    const auto keyboard = ps2Keyboard(2);
    ASSERT_TRUE(world.testbed.add(keyboard.text()));
    KeyTableSide side(world.testbed, keyboard.event, laptopKeyboardTable());
    world.list();
    const auto builtIn = hidutilKeyboardMatching(DeviceMatch::builtIn());
    ASSERT_TRUE(writeNow(world.host(), hyperOnCapsLock(), builtIn).ok());
    EXPECT_EQ(side.table().at(0x3A), keyF18);
    EXPECT_EQ(*readNow(world.host(), builtIn), (Pairs{{0x700000039, 0x70000006D}}));
    ASSERT_TRUE(writeNow(world.host(), KeyMapSetup{}, builtIn).ok());
    EXPECT_EQ(side.table(), laptopKeyboardTable());
}

TEST(EvdevKeyMapDevices, OneOfTwoKeyboardNodesLaggingFailsTheWrite) {
    KeyMapWorld world;
    const auto first = usbKeyboard(1);
    auto second = usbKeyboard(3);  // another node of the same keyboard
    std::erase_if(second.devices, [&](const DeviceText& device) {
        return std::any_of(first.devices.begin(), first.devices.end(),
                           [&](const DeviceText& known) { return known.path() == device.path(); });
    });
    ASSERT_TRUE(world.testbed.add(first.text()));
    ASSERT_TRUE(world.testbed.add(second.text()));
    KeyTableSide firstSide(world.testbed, first.event, hidKeyboardTable());
    KeyTableSide secondSide(world.testbed, second.event, hidKeyboardTable());
    world.list();
    ASSERT_EQ(LinuxWorld::keyboards(*world.registry).size(), 2u);

    secondSide.setLagging(true);
    EXPECT_EQ(writeNow(world.host(), hyperOnCapsLock(), usbKeyboardMatching).error(),
              KeyMapError::serviceLagsDevice());
    secondSide.setLagging(false);
    EXPECT_TRUE(writeNow(world.host(), hyperOnCapsLock(), usbKeyboardMatching).ok());
    EXPECT_EQ(secondSide.table().at(0x70039), keyF18);
}

}  // namespace
}  // namespace tindlewave::testkit::umockdev
