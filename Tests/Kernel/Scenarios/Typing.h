#pragma once

// Keys typed on the USB keyboard of the kernel tier at a pace, and what a reader of a node got of
// them: each key with when it was sent and when it was read, and how long each took.

#include <chrono>
#include <functional>
#include <vector>

#include "Kernel/Scenarios/Guest.h"
#include "TestKit/Uhid/UhidDevices.h"

namespace tindlewave::kernel {

using TypingClock = std::chrono::steady_clock;

// A key the node tells, and when the keyboard sent it (or a reader read it; `afterGap`: that
// reader's own buffer overflowed before it).
struct Typed {
    InputEvent key;
    TypingClock::time_point at;
    bool afterGap = false;
};

// Types `reports` reports, each a letter's down or its up (the letters a to z in turn, one down at
// a time), `pace` apart (zero: as fast as they go), and keeps what the node will tell of each.
// `after(i)` runs after the i-th report.
bool typeKeys(testkit::uhid::UsbKeyboard& keyboard, int reports, std::chrono::microseconds pace,
              std::vector<Typed>& sent, const std::function<void(int)>& after = {});

// The key downs and ups a reader saw (autorepeats left out), with when each was read.
std::vector<Typed> keysRead(const NodeReader& reader);

// The keys typed that reached the reader, each with how long after it was sent: in order, a key
// the reader does not have next is one lost.
std::vector<double> latenciesMs(const std::vector<Typed>& got, const std::vector<Typed>& sent);

double medianOf(std::vector<double> values);
// The value `fraction` (0.99) of the way up the sorted values; 0 when there are none.
double percentileOf(std::vector<double> values, double fraction);

// Waits until the reader's last key is the last one typed (a key lost on the way waits the limit).
void waitForLast(const NodeReader& reader, const std::vector<Typed>& sent,
                 std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace tindlewave::kernel
