// The hyper key over real key tables: the USB keyboard's (hid-generic, scan codes are HID usages)
// and the machine's own i8042 keyboard's (atkbd, set-1 scan codes): the route written while the
// program runs, the four modifiers while it is held, the table back at quit and after a crash.

#include <gtest/gtest.h>

#include <linux/input.h>
#include <signal.h>

#include "Kernel/Scenarios/Keyboards.h"

namespace tindlewave::kernel {
namespace {

void hyperKeyHeldAndPutBack(Keyboard& keyboard) {
    ASSERT_FALSE(keyboard.node.empty()) << describeInputNodes();
    ASSERT_EQ(keyCode(keyboard.node, keyboard.capsScan), keyCapsLock);
    Program program;
    program.writeConfig(hyperConfig({&keyboard}));
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(waitApplied(program)) << program.seen();
    // The route: Caps Lock's scan code reads F18 while the program runs.
    EXPECT_EQ(keyCode(keyboard.node, keyboard.capsScan), keyF18);
    const std::string virtualKeyboard = waitForNode([] { return eventNode("Tindlewave virtual keyboard", true); });
    ASSERT_FALSE(virtualKeyboard.empty());
    const std::string mirror = waitForNode([&] { return eventNode(keyboard.name, true); });
    ASSERT_FALSE(mirror.empty()) << describeInputNodes() << program.seen();
    ASSERT_TRUE(waitUntil([&] { return grabbed(keyboard.node); }));
    // The mirror can send every key a route may give the keyboard, F13 to F24, though the USB
    // keyboard's own keys stop at Application: the kernel drops a key its device lacks.
    const auto mirrorKeys = keysItCanSend(mirror);
    for (int code = KEY_F13; code <= KEY_F24; ++code)
        EXPECT_TRUE(mirrorKeys.count(code)) << "the mirror lacks key " << code;

    // Held: the four modifiers on the program's keyboard, and a key pressed meanwhile reaches the
    // keyboard's mirror.
    NodeReader mirrored(mirror);
    ASSERT_TRUE(keyboard.press("caps"));
    EXPECT_TRUE(waitUntil([&] { return fourModifiersDown(virtualKeyboard); }, 30s)) << program.seen();
    ASSERT_TRUE(keyboard.press("a"));
    EXPECT_TRUE(mirrored.waitFor({EV_KEY, keyA, 1})) << mirrored.describe();
    ASSERT_TRUE(keyboard.release("a"));
    ASSERT_TRUE(keyboard.release("caps"));
    EXPECT_TRUE(waitUntil([&] { return noModifierDown(virtualKeyboard); }, 30s)) << program.seen();
    EXPECT_TRUE(mirrored.waitFor({EV_KEY, keyA, 0})) << mirrored.describe();
    EXPECT_FALSE(mirrored.has({EV_KEY, keyCapsLock, 1})) << mirrored.describe();

    // Quit: the table as it was, nothing grabbed.
    EXPECT_EQ(program.quit(), 0) << program.seen();
    EXPECT_EQ(keyCode(keyboard.node, keyboard.capsScan), keyCapsLock);
    EXPECT_FALSE(grabbed(keyboard.node));
    EXPECT_TRUE(keysDown(keyboard.node).empty());
}

TEST(HyperKey, OnAUsbKeyboard) {
    Keyboard keyboard = usbKeyboard();
    // Its keys stop at Application, so its mirror has F13 to F24 only if the program gave them.
    ASSERT_EQ(keysItCanSend(keyboard.node).count(KEY_F19), 0u) << describeInputNodes();
    hyperKeyHeldAndPutBack(keyboard);
}

TEST(HyperKey, OnTheMachinesOwnKeyboard) {
    Keyboard keyboard = builtInKeyboard();
    hyperKeyHeldAndPutBack(keyboard);
}

TEST(HyperKey, AfterSigkillTheNextStartPutsBothTablesBack) {
    Keyboard usb = usbKeyboard();
    Keyboard builtIn = builtInKeyboard();
    ASSERT_FALSE(usb.node.empty());
    Program program;
    program.writeConfig(hyperConfig({&usb, &builtIn}));
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(waitApplied(program)) << program.seen();
    EXPECT_EQ(keyCode(usb.node, usb.capsScan), keyF18);
    EXPECT_EQ(keyCode(builtIn.node, builtIn.capsScan), keyF18);

    // Killed: its grabs and devices go with it, the kernel's tables stay as it wrote them.
    program.kill(SIGKILL);
    ASSERT_NE(program.waitForEnd(), -1);
    EXPECT_FALSE(grabbed(usb.node));
    EXPECT_TRUE(eventNode("Tindlewave virtual keyboard", true).empty());
    EXPECT_EQ(keyCode(builtIn.node, builtIn.capsScan), keyF18);

    // The next start, with the hyper key off, puts both back.
    program.writeConfig(hyperConfig({&usb, &builtIn}, false));
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(waitApplied(program)) << program.seen();
    EXPECT_EQ(keyCode(usb.node, usb.capsScan), keyCapsLock) << program.seen();
    EXPECT_EQ(keyCode(builtIn.node, builtIn.capsScan), keyCapsLock) << program.seen();
    EXPECT_EQ(program.quit(), 0) << program.seen();
    EXPECT_EQ(keyCode(builtIn.node, builtIn.capsScan), keyCapsLock);
}

}  // namespace
}  // namespace tindlewave::kernel
