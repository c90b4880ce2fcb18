// The window program, `tindlewave`, over the real kernel as a user starts it, on a virtual screen
// (Xvfb) with a desktop (libinput) following udev: a rule's shortcut as soon as the mouse is set
// up and again later while the keyboard is grabbed, the hyper key, and quit putting everything
// back.

#include <gtest/gtest.h>

#include <linux/input.h>

#include <fstream>

#include "Kernel/Scenarios/Keyboards.h"
#include "TestKit/Uhid/UhidDevices.h"

namespace tindlewave::kernel {
namespace {

constexpr std::uint16_t topButton = 0xC4;  // the gesture button

std::string xvfbLog() {
    std::ifstream in(artefacts() / "xvfb.log");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

#define SKIP_WITHOUT_THE_WINDOW_PROGRAM()
#ifndef TW_WINDOW_PROGRAM
#undef SKIP_WITHOUT_THE_WINDOW_PROGRAM
#define SKIP_WITHOUT_THE_WINDOW_PROGRAM() GTEST_SKIP() << "built without the window program"
#endif

TEST(WindowProgram, ARulesShortcutAtStartAndLaterWhileTheKeyboardIsGrabbedAndQuitPutsItAllBack) {
    SKIP_WITHOUT_THE_WINDOW_PROGRAM();
    std::string error;
    auto mouse = testkit::uhid::BluetoothHidppMouse::create(recording("MX-Master-3-Wireless-Mouse-B023.json"),
                                                            "MX Master 3", 0xB023, error);
    ASSERT_TRUE(mouse) << error;
    ASSERT_FALSE(waitForNode([] { return eventNodeContaining("MX Master 3"); }).empty()) << describeInputNodes();
    Keyboard keyboard = usbKeyboard();
    ASSERT_FALSE(keyboard.node.empty()) << describeInputNodes();
    settleUdev();
    LibinputWatch desktop;
    ASSERT_TRUE(desktop.waitFor({"MX Master 3"}, 60s)) << desktop.output();
    ASSERT_TRUE(desktop.waitFor({keyboard.name}, 60s)) << desktop.output();
    VirtualScreen screen;
    ASSERT_TRUE(screen.ok()) << xvfbLog();
    Program program(screen);
    // The keyboard with the hyper key (so that every keyboard and mouse is grabbed behind its
    // mirror), and a rule on the mouse's top button.
    program.writeConfig(hyperAndTopButtonConfig(keyboard));
    ASSERT_TRUE(program.start());
    auto diverted = [&] {
        return mouse->hidpp().read([](const VirtualHidppMouse& m) {
            auto reporting = m.reporting(topButton);
            return reporting && reporting->divert;
        });
    };
    auto click = [&] {
        mouse->act([](VirtualHidppMouse& m, Instant now) { m.press(topButton, now); });
        mouse->act([](VirtualHidppMouse& m, Instant now) { m.release(topButton, now); });
    };
    auto report = [&] { return program.seen() + "\n--- libinput:\n" + desktop.output(); };
    // The first click as soon as the button is diverted: held until the desktop has the
    // program's keyboard, then written.
    ASSERT_TRUE(waitUntil(diverted, 120s)) << program.seen();
    click();
    EXPECT_TRUE(desktop.waitFor({"KEY_4 (5) pressed"}, 60s)) << report();
    EXPECT_TRUE(desktop.waitFor({"KEY_4 (5) released"}, 30s)) << report();
    // Later, once the keyboard is grabbed behind its mirror and the desktop has that: the same.
    ASSERT_TRUE(waitUntil([&] { return grabbed(keyboard.node); }, 120s)) << report();
    ASSERT_TRUE(waitUntil([&] { return desktop.count({"DEVICE_ADDED", keyboard.name}) >= 2; }, 60s)) << report();
    click();
    EXPECT_TRUE(waitUntil([&] { return desktop.count({"KEY_4 (5) released"}) >= 2; }, 60s)) << report();
    EXPECT_TRUE(desktop.keysHeld().empty()) << report();

    // Quit: the control native, the table as it was, nothing grabbed, the program's devices gone.
    EXPECT_EQ(program.quit(), 0) << program.seen();
    EXPECT_FALSE(diverted());
    EXPECT_EQ(keyCode(keyboard.node, keyboard.capsScan), keyCapsLock);
    EXPECT_FALSE(grabbed(keyboard.node));
    EXPECT_FALSE(grabbed(eventNodeContaining("MX Master 3")));
    EXPECT_TRUE(eventNode(keyboard.name, true).empty()) << describeInputNodes();
    EXPECT_TRUE(eventNode("Tindlewave virtual keyboard", true).empty()) << describeInputNodes();
}

TEST(WindowProgram, TheHyperKeyAndQuitPutsTheKeyboardBack) {
    SKIP_WITHOUT_THE_WINDOW_PROGRAM();
    Keyboard keyboard = usbKeyboard();
    ASSERT_FALSE(keyboard.node.empty()) << describeInputNodes();
    ASSERT_EQ(keyCode(keyboard.node, keyboard.capsScan), keyCapsLock);
    LibinputWatch desktop;
    ASSERT_TRUE(desktop.waitFor({keyboard.name}, 60s)) << desktop.output();
    VirtualScreen screen;
    ASSERT_TRUE(screen.ok()) << xvfbLog();
    Program program(screen);
    program.writeConfig(hyperConfig({&keyboard}));
    ASSERT_TRUE(program.start());
    auto report = [&] { return program.seen() + "\n--- libinput:\n" + desktop.output(); };
    // Set up: Caps Lock's scan code reads F18, the keyboard grabbed behind its mirror, which the
    // desktop has taken up.
    ASSERT_TRUE(waitUntil([&] { return keyCode(keyboard.node, keyboard.capsScan) == keyF18; }, 120s)) << report();
    ASSERT_TRUE(waitUntil([&] { return grabbed(keyboard.node); }, 120s)) << report();
    const std::string mirror = waitForNode([&] { return eventNode(keyboard.name, true); });
    ASSERT_FALSE(mirror.empty()) << describeInputNodes();
    const std::string virtualKeyboard = waitForNode([] { return eventNode("Tindlewave virtual keyboard", true); });
    ASSERT_FALSE(virtualKeyboard.empty()) << describeInputNodes();

    // Held: the four modifiers on the program's keyboard, and a key typed meanwhile reaches the
    // desktop from the mirror; let go, nothing stays down.
    ASSERT_TRUE(keyboard.press("caps"));
    EXPECT_TRUE(waitUntil([&] { return fourModifiersDown(virtualKeyboard); }, 60s)) << report();
    ASSERT_TRUE(keyboard.press("a"));
    ASSERT_TRUE(keyboard.release("a"));
    ASSERT_TRUE(keyboard.release("caps"));
    const std::string mirrorName = std::filesystem::path(mirror).filename().string();
    EXPECT_TRUE(desktop.waitFor({mirrorName, "KEY_A (30) released"}, 60s)) << report();
    EXPECT_TRUE(waitUntil([&] { return noModifierDown(virtualKeyboard); }, 30s)) << report();
    EXPECT_TRUE(waitUntil([&] { return desktop.keysHeld().empty(); }, 30s)) << report();
    EXPECT_EQ(desktop.count({"KEY_CAPSLOCK"}), 0) << report();

    // Quit: the table as it was, nothing grabbed or down, the program's devices gone.
    EXPECT_EQ(program.quit(), 0) << program.seen();
    EXPECT_EQ(keyCode(keyboard.node, keyboard.capsScan), keyCapsLock);
    EXPECT_FALSE(grabbed(keyboard.node));
    EXPECT_TRUE(keysDown(keyboard.node).empty());
    EXPECT_TRUE(eventNode(keyboard.name, true).empty()) << describeInputNodes();
    EXPECT_TRUE(eventNode("Tindlewave virtual keyboard", true).empty()) << describeInputNodes();
}

}  // namespace
}  // namespace tindlewave::kernel
