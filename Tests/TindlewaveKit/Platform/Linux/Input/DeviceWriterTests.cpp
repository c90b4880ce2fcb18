// The writer of the program's devices on its own thread, with pipes in place of the devices.

#include "Platform/Linux/Input/DeviceWriter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>


#include <algorithm>
#include <array>
#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "TestKit/EvdevPipes.h"
#include "TestKit/ThreadRunTime.h"
#include "TestKit/Waiter.h"

namespace tindlewave {
namespace {

using namespace std::chrono_literals;

std::array<input_event, 2> keyFrame(int value) {
    std::array<input_event, 2> frame{};
    frame[0].type = EV_KEY;
    frame[0].code = KEY_A;
    frame[0].value = value;
    return frame;  // the second: SYN_REPORT
}

std::vector<int> valuesRead(int fd) {
    std::vector<int> values;
    std::array<input_event, 64> buffer;
    ssize_t n;
    while ((n = ::read(fd, buffer.data(), sizeof buffer)) > 0) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof(input_event); ++i)
            if (buffer[i].type == EV_KEY) values.push_back(buffer[i].value);
    }
    return values;
}

TEST(DeviceWriter, WritesInTheOrderHandedOverAcrossDevicesAndDestroysADeviceLetGoOfOnlyAfterItsCodes) {
    DeviceWriter writer(3600);
    // Two devices writing into one pipe: what it holds is the order of the writes.
    testkit::EvdevPipe shared;
    const SharedDevice first = std::make_shared<const UinputDevice>(UinputDevice::adopt(::dup(shared.write)));
    const SharedDevice second = std::make_shared<const UinputDevice>(UinputDevice::adopt(::dup(shared.write)));
    std::vector<int> handedOver;
    for (int i = 0; i < 300; ++i) {
        const auto frame = keyFrame(i);
        writer.write(i % 3 == 0 ? second : first, frame.data(), frame.size());
        handedOver.push_back(i);
    }
    writer.flush();
    EXPECT_EQ(valuesRead(shared.read), handedOver);
    EXPECT_EQ(writer.beats(), 300u);

    // Handed over, then let go of by its only other holder: written, and only then closed.
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_NONBLOCK | O_CLOEXEC), 0);
    SharedDevice alone = std::make_shared<const UinputDevice>(UinputDevice::adopt(ends[1]));
    const auto down = keyFrame(1), up = keyFrame(0);
    writer.write(alone, down.data(), down.size());
    writer.write(alone, up.data(), up.size());
    alone.reset();
    writer.flush();
    EXPECT_EQ(valuesRead(ends[0]), (std::vector<int>{1, 0}));
    char byte;
    EXPECT_EQ(::read(ends[0], &byte, 1), 0);  // the end: its device was closed
    ::close(ends[0]);
}

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

// A device whose writes wait: a pipe filled up, its writing end blocking from then on.
struct WaitingDevice {
    WaitingDevice() {
        int ends[2];
        if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return;
        const std::vector<char> fill(1 << 16, 'x');
        for (ssize_t n; (n = ::write(ends[1], fill.data(), fill.size())) > 0;) filled += static_cast<std::size_t>(n);
        ::fcntl(ends[1], F_SETFL, 0);
        readEnd = ends[0];
        device = std::make_shared<const UinputDevice>(UinputDevice::adopt(ends[1]));
    }
    ~WaitingDevice() {
        if (readEnd >= 0) ::close(readEnd);
    }
    // Reads what filled it, so that the write waiting goes on.
    void drainFill() const {
        std::vector<char> drained(filled);
        for (std::size_t taken = 0; taken < filled;) {
            const ssize_t n = ::read(readEnd, drained.data(), filled - taken);
            if (n > 0) taken += static_cast<std::size_t>(n);
        }
    }
    int readEnd = -1;
    std::size_t filled = 0;
    SharedDevice device;
};

TEST(DeviceWriter, ItsTimerSaysSoOnlyWhileCodesHandedOverWaitUnwrittenPastTheirTime) {
    const WaitingDevice waiting;
    ASSERT_TRUE(waiting.device);
    DeviceWriter writer(0.05);
    const SharedDevice& stuck = waiting.device;
    const auto down = keyFrame(1);
    writer.write(stuck, down.data(), down.size());
    EXPECT_TRUE(testkit::pollUntil([&] { return readable(writer.lateFd()); }));
    // Once all is written, it is quiet again, and stays so while nothing is handed over.
    waiting.drainFill();
    writer.flush();
    EXPECT_TRUE(testkit::pollUntil([&] { return !readable(writer.lateFd()); }));
    const auto up = keyFrame(0);
    writer.write(stuck, up.data(), up.size());
    writer.flush();
    EXPECT_TRUE(testkit::pollUntil([&] { return !readable(writer.lateFd()); }));
    // Nor does its thread run meanwhile: it sleeps until the next hand-over (a writer that keeps
    // finding its wake-up set would spin through every idle moment of the program).
    const pid_t thread = testkit::threadNamed("tw.devicewriter");
    ASSERT_NE(thread, 0);
    const auto taken = testkit::threadRunTimeOver(thread, 200ms);
    EXPECT_GE(taken.count(), 0);
    EXPECT_LT(taken, 40ms) << "the idle writer's thread kept running";
}

TEST(DeviceWriter, CodesForADeviceThatNeverWaitsAreWrittenAtOnceButNeverBeforeCodesStillWaiting) {
    const WaitingDevice waiting;
    ASSERT_TRUE(waiting.device);
    DeviceWriter writer(0.01);
    testkit::EvdevPipe quick;  // non-blocking: written in the call that hands it over
    const SharedDevice atOnce = std::make_shared<const UinputDevice>(UinputDevice::adopt(::dup(quick.write)));
    const auto key = keyFrame(1);
    writer.write(atOnce, key.data(), key.size());
    EXPECT_EQ(valuesRead(quick.read), (std::vector<int>{1}));
    EXPECT_EQ(writer.beats(), 1u);

    // A device whose write waits holds the writer; what comes after it, for any device, waits
    // its turn.
    writer.write(waiting.device, key.data(), key.size());
    ASSERT_TRUE(testkit::pollUntil([&] { return readable(writer.lateFd()); }));
    for (int i = 2; i < 5; ++i) {
        const auto frame = keyFrame(i);
        writer.write(atOnce, frame.data(), frame.size());
    }
    EXPECT_TRUE(valuesRead(quick.read).empty());
    waiting.drainFill();
    writer.flush();
    EXPECT_EQ(valuesRead(waiting.readEnd), (std::vector<int>{1}));
    EXPECT_EQ(valuesRead(quick.read), (std::vector<int>{2, 3, 4}));
}

// Whether the thread `tid` of this process sleeps (in a wait of some kind), as /proc says.
bool sleeps(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'S';
}

TEST(DeviceWriter, StoppingWritesEverythingHandedOverFirst) {
    const WaitingDevice waiting;
    ASSERT_TRUE(waiting.device);
    DeviceWriter writer(0.01);
    const SharedDevice& stuck = waiting.device;
    // The writer waits in the first write (its timer says it is at codes); more is handed over
    // meanwhile, then the writer is stopped, and only then does the device take codes again.
    const auto first = keyFrame(0);
    writer.write(stuck, first.data(), first.size());
    ASSERT_TRUE(testkit::pollUntil([&] { return readable(writer.lateFd()); }));
    std::vector<int> handedOver{0};
    for (int i = 1; i < 10; ++i) {
        const auto frame = keyFrame(i);
        writer.write(stuck, frame.data(), frame.size());
        handedOver.push_back(i);
    }
    std::atomic<pid_t> stopper{0};
    std::thread stopping([&] {
        stopper = testkit::currentThreadId();
        writer.stop();
    });
    ASSERT_TRUE(testkit::pollUntil([&] { return stopper != 0 && sleeps(stopper); }));
    waiting.drainFill();
    stopping.join();
    EXPECT_EQ(valuesRead(waiting.readEnd), handedOver);
}

}  // namespace
}  // namespace tindlewave
