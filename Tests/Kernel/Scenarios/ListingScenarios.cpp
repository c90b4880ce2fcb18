// The headless program's "devices" over the real kernel: a receiver's own interface is listed as a
// receiver, the mouse paired to it by the name its driver gave it once it answered (udev announced
// it under the receiver driver's name before), the machine's own keyboard as a keyboard.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Kernel/Scenarios/Guest.h"
#include "TestKit/Uhid/UhidDevices.h"

namespace tindlewave::kernel {
namespace {

using testkit::uhid::Receiver;

// The name the kernel has for a hidraw node's device now (HID_NAME of its sysfs uevent).
std::string kernelName(const std::string& hidraw) {
    const std::string sysname = hidraw.substr(hidraw.rfind('/') + 1);
    std::ifstream uevent("/sys/class/hidraw/" + sysname + "/device/uevent");
    std::string line;
    while (std::getline(uevent, line)) {
        if (line.rfind("HID_NAME=", 0) == 0) return line.substr(9);
    }
    return {};
}

TEST(DevicesListing, TheReceiverAsAReceiverAndThePairedMouseByItsKernelName) {
    std::string error;
    auto description = recording("MX-Master-3-Wireless-Mouse-B023.json");
    description.deviceIndex = 1;
    auto receiver = Receiver::create(description, 0x4082, 0xC52B, error);
    ASSERT_TRUE(receiver) << error;
    const std::string hidraw = waitForNode([] { return hidrawNode(0x046D, 0x4082); });
    ASSERT_FALSE(hidraw.empty()) << "the receiver driver made no device for the paired mouse";
    // The HID++ driver renames the paired mouse once it has asked it for its name.
    waitUntil([&] { return kernelName(hidraw).find("PID:4082") == std::string::npos; }, 60s);
    settleUdev();
    const std::string name = kernelName(hidraw);
    ASSERT_FALSE(name.empty());

    Program program;
    ASSERT_TRUE(program.start());
    const auto listed = program.mark();
    program.send("devices");
    EXPECT_TRUE(program.waitFor("device: " + name + " (mouse, HID++, 0x046D:0x4082)", 60s, listed))
        << program.seen();
    EXPECT_TRUE(program.waitFor("(receiver, 0x046D:0xC52B)", 30s, listed)) << program.seen();
    EXPECT_TRUE(program.waitFor("device: AT Translated Set 2 keyboard (keyboard, ", 30s, listed))
        << program.seen();
    EXPECT_EQ(program.seen().find("(mouse, 0x046D:0xC52B)", listed), std::string::npos) << program.seen();
    EXPECT_EQ(program.quit(), 0) << program.seen();
    std::ofstream(artefacts() / "headless.txt") << "kernel name: " << name << "\n" << program.seen();
}

// Over the machine's devices one program of a user runs at a time: a second one started with the
// same home is refused at once with the first one's process id, and the first keeps running.
TEST(OneProgram, ASecondOverTheSameDevicesIsRefused) {
    Program program;
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(program.waitFor("devices: this computer's mice and keyboards", 60s)) << program.seen();
    const auto [status, said] = program.run({});
    EXPECT_EQ(status, 1) << said;
    EXPECT_NE(said.find("runs already over this computer's devices (process " + std::to_string(program.pid()) + ")"),
              std::string::npos)
        << said;
    EXPECT_EQ(program.quit(), 0) << program.seen();
}

}  // namespace
}  // namespace tindlewave::kernel
