// The device emulation kit itself: fixtures as udev sees them, emulated nodes answering ioctls and
// writes, and the HID++ mouse behind a node.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <chrono>
#include <vector>

#include "Platform/Simulated/HID/VirtualMouseDescription.h"
#include "TestKit/Umockdev/EmulatedNode.h"
#include "TestKit/Umockdev/Fixtures.h"
#include "TestKit/Umockdev/HidppDeviceSide.h"
#include "TestKit/Umockdev/Testbed.h"
#include "TestKit/Waiter.h"

extern char** environ;

using namespace tindlewave;
using namespace tindlewave::testkit::umockdev;

namespace {

std::vector<std::uint8_t> readSome(int fd, std::size_t expected) {
    std::vector<std::uint8_t> bytes;
    testkit::pollUntil(
        [&] {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                std::uint8_t buffer[256];
                auto n = ::read(fd, buffer, sizeof buffer);
                if (n > 0) bytes.insert(bytes.end(), buffer, buffer + n);
            }
            return bytes.size() >= expected;
        },
        std::chrono::seconds(20), std::chrono::milliseconds(0));
    return bytes;
}

}  // namespace

TEST(EmulationKit, FixturesAsUdevSeesThemInAShortPrivateTemporaryFolder) {
    std::string tmp = std::getenv("TMPDIR");
    EXPECT_EQ(tmp.rfind("/tmp/twu-", 0), 0u) << tmp;
    Testbed testbed;
    auto receiver = receiverWithPairedMouse(1, 2);
    ASSERT_TRUE(testbed.add(receiver.text()));

    udev* context = udev_new();
    udev_device* node = udev_device_new_from_syspath(context, ("/sys" + receiver.paired.hidrawPath).c_str());
    ASSERT_NE(node, nullptr);
    EXPECT_STREQ(udev_device_get_devnode(node), "/dev/hidraw2");
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(node, "hid", nullptr);
    ASSERT_NE(hid, nullptr);
    EXPECT_STREQ(udev_device_get_property_value(hid, "HID_PHYS"), "usb-0000:00:14.0-2/input2:2");
    EXPECT_STREQ(udev_device_get_driver(hid), "logitech-hidpp-device");
    udev_device* above = udev_device_get_parent_with_subsystem_devtype(hid, "hid", nullptr);
    ASSERT_NE(above, nullptr);
    EXPECT_STREQ(udev_device_get_driver(above), "logitech-djreceiver");
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(hid, "usb", "usb_device");
    ASSERT_NE(usb, nullptr);
    EXPECT_STREQ(udev_device_get_sysattr_value(usb, "idVendor"), "046d");
    const char* descriptor = udev_device_get_sysattr_value(hid, "report_descriptor");
    ASSERT_NE(descriptor, nullptr);
    udev_device_unref(node);
    udev_unref(context);
}

// Run by the test below in a child process.
TEST(EmulationKit, DISABLED_SaysItsTemporaryFolder) {
    std::printf("TMPDIR=%s\n", std::getenv("TMPDIR"));
}

// A test program that a test starts, and may kill, makes no folder of its own that nobody would
// remove: it takes its parent's.
TEST(EmulationKit, AChildTestProgramKeepsItsParentsTemporaryFolder) {
    int output[2];
    ASSERT_EQ(::pipe(output), 0);
    const char* argv[] = {"/proc/self/exe", "--gtest_also_run_disabled_tests",
                          "--gtest_filter=EmulationKit.DISABLED_SaysItsTemporaryFolder", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, "/proc/self/exe", &actions, nullptr,
                                    const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(output[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(output[0]);
    ASSERT_EQ(spawned, 0);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
    EXPECT_NE(text.find("TMPDIR=" + std::string(std::getenv("TMPDIR")) + "\n"), std::string::npos)
        << text;
}

TEST(EmulationKit, NodeAnswersIoctlsAndWritesAndSendsReports) {
    Testbed testbed;
    auto mouse = bluetoothHidppMouse(0);
    ASSERT_TRUE(testbed.add(mouse.text()));
    {
        EmulatedNode node(testbed, mouse.hidraw);
        std::mutex mutex;  // the handlers run on the emulation's thread
        std::vector<std::vector<std::uint8_t>> writes;
        node.onIoctl(HIDIOCGRAWINFO, [](const std::shared_ptr<IoctlCall>& call) {
            hidraw_devinfo info{0x0005, 0x046D, std::int16_t(0xB023)};
            call->writeAs(info);
            call->complete(0);
            return true;
        });
        node.onIoctl(HIDIOCGRDESC, [](const std::shared_ptr<IoctlCall>& call) {
            auto asked = call->readAs<std::uint32_t>();
            std::vector<std::uint8_t> bytes(asked, 0x5A);
            call->write(bytes, sizeof(std::uint32_t));
            call->complete(0);
            return true;
        });
        node.onWrite([&](std::span<const std::uint8_t> bytes) {
            std::lock_guard lock(mutex);
            writes.emplace_back(bytes.begin(), bytes.end());
            return bytes.size() == 3 ? EIO : 0;
        });

        int fd = ::open(mouse.hidraw.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        hidraw_devinfo info{};
        ASSERT_EQ(::ioctl(fd, HIDIOCGRAWINFO, &info), 0);
        EXPECT_EQ(info.bustype, 5u);
        EXPECT_EQ(std::uint16_t(info.product), 0xB023);
        hidraw_report_descriptor descriptor{};
        descriptor.size = 4;
        ASSERT_EQ(::ioctl(fd, HIDIOCGRDESC, &descriptor), 0);
        EXPECT_EQ(descriptor.value[3], 0x5A);
        EXPECT_EQ(descriptor.value[4], 0x00);
        char name[64] = {};
        EXPECT_EQ(::ioctl(fd, HIDIOCGRAWNAME(sizeof name), name), -1);  // no handler: refused

        std::uint8_t report[] = {0x11, 0xFF, 0x00};
        EXPECT_EQ(::write(fd, report, 2), 2);
        EXPECT_EQ(::write(fd, report, 3), -1);
        EXPECT_EQ(errno, EIO);
        {
            std::lock_guard lock(mutex);
            EXPECT_EQ(writes.size(), 2u);
        }

        std::uint8_t in[] = {0x11, 0xFF, 0x01, 0x02};
        ASSERT_TRUE(node.send(in));
        EXPECT_EQ(readSome(fd, 4), std::vector<std::uint8_t>(in, in + 4));
        ::close(fd);
    }
}

TEST(EmulationKit, PairedMouseBehindItsNodeAnswersWithItsIndex) {
    Testbed testbed;
    auto receiver = receiverWithPairedMouse(1, 3);
    ASSERT_TRUE(testbed.add(receiver.text()));
    auto description = VirtualMouseDescription::basic({}, false);
    description.deviceIndex = 3;
    EmulatedNode node(testbed, receiver.paired.hidraw);
    HidppDeviceSide side(node, description);
    int fd = ::open(receiver.paired.hidraw.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    // Root feature, function 1 (ping) with software id 0xB; written with index 0xFF, which the
    // receiver's driver replaces with the mouse's slot.
    std::vector<std::uint8_t> ping(20, 0);
    ping[0] = 0x11, ping[1] = 0xFF, ping[2] = 0x00, ping[3] = 0x1B, ping[6] = 0x5A;
    ASSERT_EQ(::write(fd, ping.data(), ping.size()), 20);
    auto reply = readSome(fd, 20);
    ASSERT_EQ(reply.size(), 20u);
    EXPECT_EQ(reply[1], 3);
    EXPECT_EQ(reply[3], 0x1B);
    EXPECT_EQ(reply[6], 0x5A);
    EXPECT_EQ(side.read([](const VirtualHidppMouse& m) { return m.requestsReceived().size(); }), 1u);
    ::close(fd);
}
