#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

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

constexpr std::uint16_t keyCapsLock = 58, keyF18 = 188, keyA = 30, keyB = 48, keyQ = 16;
constexpr const char* bootID = "8c3f0e2a-1b2c-4d5e-9f00-123456789abc";

const std::string usbKeyboardMatching =
    hidutilKeyboardMatching(DeviceMatch::device(VendorID{0x3412}, ProductID{0x7801}));

KeyMapSetup hyperOnCapsLock() {
    return {{{HIDUsage{0x39},
              KeyTarget::carrier(Carrier::hyperKey(), CarrierMeaning::holdModifiers({}))}}};
}

// An emulated machine with keyboards, the registry listing them once, and the key map over it.
struct KeyMapWorld {
    Testbed testbed;
    TempFolder state;
    std::unique_ptr<LinuxDeviceRegistry> registry;
    std::unique_ptr<EvdevKeyMap> keyMap;

    void list() {
        registry = std::make_unique<LinuxDeviceRegistry>();
        keyMap = makeKeyMap();
    }
    std::unique_ptr<EvdevKeyMap> makeKeyMap() {
        return std::make_unique<EvdevKeyMap>([this] { return LinuxWorld::keyboards(*registry); },
                                             folder(), bootID);
    }
    std::string folder() const { return state / "keymap"; }
    // The file the key map keeps the keyboard's baseline in.
    std::string baselineFile() const {
        return folder() + "/" + bootID + "-" + LinuxWorld::keyboards(*registry).at(0).input + ".json";
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

    // A run that ended without undoing it: the next one knows the baseline from the state
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
    // Every entry listed is a round trip through the emulation, and a write and its read-back list
    // both tables twice: a few keys keep that from taking a busy machine's scheduling delays
    // thousands of times over (Caps Lock among them, the rest to show they stay).
    ScanCodeMap table;
    for (std::uint16_t usage : {0x04, 0x05, 0x14, 0x39, 0xE1})
        table[0x70000 + usage] = *evdevkeys::evdevCode(HIDUsage{usage});
    KeyTableSide firstSide(world.testbed, first.event, table);
    KeyTableSide secondSide(world.testbed, second.event, table);
    world.list();
    ASSERT_EQ(LinuxWorld::keyboards(*world.registry).size(), 2u);

    // The lagging node takes the write and keeps its table: the read-back tells.
    secondSide.setLagging(true);
    EXPECT_EQ(writeNow(world.host(), hyperOnCapsLock(), usbKeyboardMatching).error(),
              KeyMapError::serviceLagsDevice());
    EXPECT_EQ(firstSide.table().at(0x70039), keyF18);
    EXPECT_EQ(secondSide.table(), table);
    secondSide.setLagging(false);
    EXPECT_TRUE(writeNow(world.host(), hyperOnCapsLock(), usbKeyboardMatching).ok());
    auto routed = table;
    routed[0x70039] = keyF18;
    EXPECT_EQ(firstSide.table(), routed);
    EXPECT_EQ(secondSide.table(), routed);
}

TEST(EvdevKeyMapDevices, AnEmptySetUpLeavesKeysItNeverRoutedAsTheyAre) {
    KeyMapWorld world;
    const auto keyboard = usbKeyboard(1);
    ASSERT_TRUE(world.testbed.add(keyboard.text()));
    KeyTableSide side(world.testbed, keyboard.event, hidKeyboardTable());
    world.list();
    ASSERT_TRUE(writeNow(world.host(), hyperOnCapsLock(), usbKeyboardMatching).ok());
    side.set(0x70004, keyB);  // A gives B since, by another tool's hand

    EXPECT_EQ(*readNow(world.host(), usbKeyboardMatching), (Pairs{{0x700000039, 0x70000006D}}));
    ASSERT_TRUE(writeNow(world.host(), KeyMapSetup{}, usbKeyboardMatching).ok());
    auto expected = hidKeyboardTable();
    expected[0x70004] = keyB;
    EXPECT_EQ(side.table(), expected);
    // So does a run after this one, from the stored baseline.
    ASSERT_TRUE(writeNow(world.host(), hyperOnCapsLock(), usbKeyboardMatching).ok());
    world.keyMap = world.makeKeyMap();
    ASSERT_TRUE(writeNow(world.host(), KeyMapSetup{}, usbKeyboardMatching).ok());
    EXPECT_EQ(side.table(), expected);
}

// A baseline that routes A and Q onto each other: were it taken, an empty set-up would swap them.
std::string swappedBaseline() {
    ScanCodeBaseline planted{hidKeyboardTable(), {0x70004, 0x70014}};
    planted.table[0x70004] = keyQ;
    planted.table[0x70014] = keyA;
    return ScanCodeMaps::encode(planted, bootID);
}

TEST(EvdevKeyMapDevices, BaselinesThatAreNotTheUsersOwnOrNotTheNodesAreNeverTaken) {
    KeyMapWorld world;
    const auto keyboard = usbKeyboard(1);
    ASSERT_TRUE(world.testbed.add(keyboard.text()));
    KeyTableSide side(world.testbed, keyboard.event, hidKeyboardTable());
    world.list();
    ASSERT_EQ(::mkdir(world.folder().c_str(), 0700), 0);
    const std::string file = world.baselineFile();
    // Each time a fresh key map (no baseline in memory) meets the planted file, and an empty
    // set-up must leave the keyboard as it is.
    auto leavesTheKeyboardAlone = [&](const char* what) {
        world.keyMap = world.makeKeyMap();
        ASSERT_TRUE(writeNow(world.host(), KeyMapSetup{}, usbKeyboardMatching).ok()) << what;
        EXPECT_EQ(side.table(), hidKeyboardTable()) << what;
    };

    // A link, even to a file of the user's own: it is neither read nor written through.
    const std::string victim = world.state / "victim.json";
    TempFolder::write(victim, swappedBaseline());
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    ASSERT_EQ(::symlink(victim.c_str(), file.c_str()), 0);
    leavesTheKeyboardAlone("a link");
    EXPECT_EQ(TempFolder::read(victim), swappedBaseline());
    struct stat info {};
    ASSERT_EQ(::lstat(file.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));  // the link was replaced by the key map's own file

    // A file others may write.
    TempFolder::write(file, swappedBaseline());
    ASSERT_EQ(::chmod(file.c_str(), 0620), 0);
    leavesTheKeyboardAlone("a group-writable file");

    // A file of another user's.
    if (::geteuid() == 0) {
        TempFolder::write(file, swappedBaseline());
        ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
        ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
        leavesTheKeyboardAlone("another user's file");
    }

    // A table that is not this node's: short, or empty, it would leave Caps Lock unfound and the
    // hyper key failing for the rest of the boot.
    for (const char* table : {"[[458809,58]]", "[]"}) {
        ASSERT_EQ(::unlink(file.c_str()), 0);
        TempFolder::write(file, std::string("{\"boot\":\"") + bootID + "\",\"table\":" + table +
                                    ",\"routed\":[]}\n");
        ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
        world.keyMap = world.makeKeyMap();
        EXPECT_TRUE(writeNow(world.host(), hyperOnCapsLock(), usbKeyboardMatching).ok()) << table;
        EXPECT_EQ(side.table().at(0x70039), keyF18);
        ASSERT_TRUE(writeNow(world.host(), KeyMapSetup{}, usbKeyboardMatching).ok());
        EXPECT_EQ(side.table(), hidKeyboardTable());
    }
}

TEST(EvdevKeyMapDevices, AFolderThatIsNotTheUsersAloneIsNotUsed) {
    KeyMapWorld world;
    const auto keyboard = usbKeyboard(1);
    ASSERT_TRUE(world.testbed.add(keyboard.text()));
    KeyTableSide side(world.testbed, keyboard.event, hidKeyboardTable());
    world.list();
    // Planted with a table in it, open to its group, to all, or another user's: nothing is read
    // from it or written to it.
    ASSERT_EQ(::mkdir(world.folder().c_str(), 0700), 0);
    TempFolder::write(world.baselineFile(), swappedBaseline());
    ASSERT_EQ(::chmod(world.baselineFile().c_str(), 0600), 0);
    struct Planted {
        const char* what;
        mode_t mode;
        uid_t owner;
    };
    std::vector<Planted> planted{{"open to its group", 0770, ::geteuid()},
                                 {"open to all", 0777, ::geteuid()}};
    if (::geteuid() == 0) planted.push_back({"another user's", 0700, 65534});
    for (const auto& [what, mode, owner] : planted) {
        ASSERT_EQ(::chmod(world.folder().c_str(), mode), 0) << what;
        ASSERT_EQ(::chown(world.folder().c_str(), owner, ::getegid()), 0) << what;
        world.keyMap = world.makeKeyMap();
        ASSERT_TRUE(writeNow(world.host(), hyperOnCapsLock(), usbKeyboardMatching).ok()) << what;
        ASSERT_TRUE(writeNow(world.host(), KeyMapSetup{}, usbKeyboardMatching).ok()) << what;
        EXPECT_EQ(side.table(), hidKeyboardTable()) << what;
        EXPECT_EQ(TempFolder::read(world.baselineFile()), swappedBaseline()) << what;
    }
    ASSERT_EQ(::chown(world.folder().c_str(), ::geteuid(), ::getegid()), 0);
    // A link in its place is not followed either.
    ASSERT_EQ(::rename(world.folder().c_str(), (world.state / "elsewhere").c_str()), 0);
    ASSERT_EQ(::chmod((world.state / "elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(::symlink((world.state / "elsewhere").c_str(), world.folder().c_str()), 0);
    world.keyMap = world.makeKeyMap();
    ASSERT_TRUE(writeNow(world.host(), KeyMapSetup{}, usbKeyboardMatching).ok());
    EXPECT_EQ(side.table(), hidKeyboardTable());
}

TEST(EvdevKeyMapDevices, TheBaselineOutlivesTheRunAndOtherBootsAndGoneNodesFilesAreRemoved) {
    KeyMapWorld world;
    const auto keyboard = usbKeyboard(1);
    ASSERT_TRUE(world.testbed.add(keyboard.text()));
    KeyTableSide side(world.testbed, keyboard.event, hidKeyboardTable());
    world.list();
    ASSERT_EQ(::mkdir(world.folder().c_str(), 0700), 0);
    const std::string otherBoot = world.folder() + "/0f0e0d0c-0000-4000-8000-000000000001-input21.json";
    const std::string deadWriter = world.baselineFile() + ".tmp-999999999-0";
    // This boot's, of a keyboard node that is gone (unplugged: plugged in again, it gets a new
    // input name).
    const std::string goneNode = world.folder() + "/" + bootID + "-input99.json";
    const std::string folderKept = world.folder() + "/kept";
    TempFolder::write(otherBoot, "{}");
    TempFolder::write(goneNode, "{}");
    TempFolder::write(deadWriter, "{");
    ASSERT_EQ(::mkdir(folderKept.c_str(), 0700), 0);

    ASSERT_TRUE(writeNow(world.host(), hyperOnCapsLock(), usbKeyboardMatching).ok());
    EXPECT_FALSE(std::filesystem::exists(otherBoot));
    EXPECT_FALSE(std::filesystem::exists(deadWriter));
    EXPECT_FALSE(std::filesystem::exists(goneNode));
    EXPECT_TRUE(std::filesystem::is_directory(folderKept));
    struct stat info {};
    ASSERT_EQ(::stat(world.baselineFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(world.folder().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // The run ends (a logout takes the runtime folder, not this one); the next run of this boot
    // still knows which key it routed, even one onto a key that is no carrier.
    KeyMapSetup toRightOption = {{{HIDUsage{0x39}, KeyTarget::native(HIDUsage{0xE6})}}};
    ASSERT_TRUE(writeNow(world.host(), toRightOption, usbKeyboardMatching).ok());
    world.keyMap = world.makeKeyMap();
    EXPECT_EQ(*readNow(world.host(), usbKeyboardMatching), (Pairs{{0x700000039, 0x7000000E6}}));
    ASSERT_TRUE(writeNow(world.host(), KeyMapSetup{}, usbKeyboardMatching).ok());
    EXPECT_EQ(side.table(), hidKeyboardTable());
}

}  // namespace
}  // namespace tindlewave::testkit::umockdev
