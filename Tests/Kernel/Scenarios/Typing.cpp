#include "Kernel/Scenarios/Typing.h"

#include <linux/input.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <thread>

namespace tindlewave::kernel {
namespace {

// The letters a to z: their HID usages and the kernel's codes.
struct Letter {
    std::uint8_t usage;
    int code;
};
constexpr Letter letters[] = {
    {0x04, KEY_A}, {0x05, KEY_B}, {0x06, KEY_C}, {0x07, KEY_D}, {0x08, KEY_E}, {0x09, KEY_F}, {0x0A, KEY_G},
    {0x0B, KEY_H}, {0x0C, KEY_I}, {0x0D, KEY_J}, {0x0E, KEY_K}, {0x0F, KEY_L}, {0x10, KEY_M}, {0x11, KEY_N},
    {0x12, KEY_O}, {0x13, KEY_P}, {0x14, KEY_Q}, {0x15, KEY_R}, {0x16, KEY_S}, {0x17, KEY_T}, {0x18, KEY_U},
    {0x19, KEY_V}, {0x1A, KEY_W}, {0x1B, KEY_X}, {0x1C, KEY_Y}, {0x1D, KEY_Z}};

}  // namespace

bool typeKeys(testkit::uhid::UsbKeyboard& keyboard, int reports, std::chrono::microseconds pace,
              std::vector<Typed>& sent, const std::function<void(int)>& after) {
    const auto start = TypingClock::now();
    for (int i = 0; i < reports; ++i) {
        if (pace.count() > 0) std::this_thread::sleep_until(start + pace * i);  // the typing's pace
        const Letter& letter = letters[(sent.size() / 2) % std::size(letters)];
        const bool down = sent.size() % 2 == 0;
        const auto at = TypingClock::now();
        if (!(down ? keyboard.press(letter.usage) : keyboard.release(letter.usage))) return false;
        sent.push_back({{EV_KEY, letter.code, down ? 1 : 0}, at});
        if (after) after(i);
    }
    return true;
}

std::vector<Typed> keysRead(const NodeReader& reader) {
    const auto events = reader.events();
    const auto arrivals = reader.arrivals();
    std::vector<Typed> keys;
    bool gap = false;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].type == EV_SYN && events[i].code == SYN_DROPPED) gap = true;
        if (events[i].type != EV_KEY || events[i].value == 2) continue;
        keys.push_back({events[i], arrivals[i], gap});
        gap = false;
    }
    return keys;
}

std::vector<double> latenciesMs(const std::vector<Typed>& got, const std::vector<Typed>& sent) {
    std::vector<double> latencies;
    std::size_t next = 0;
    for (const Typed& typed : sent) {
        if (next < got.size() && got[next].key == typed.key) {
            latencies.push_back(std::chrono::duration<double, std::milli>(got[next].at - typed.at).count());
            ++next;
        }
    }
    return latencies;
}

double medianOf(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

double percentileOf(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    const auto at = std::min(values.size() - 1,
                             static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size()))) - 1);
    std::nth_element(values.begin(), values.begin() + static_cast<long>(at), values.end());
    return values[at];
}

void waitForLast(const NodeReader& reader, const std::vector<Typed>& sent, std::chrono::milliseconds limit) {
    waitUntil([&] {
        const auto got = keysRead(reader);
        return !got.empty() && got.back().key == sent.back().key;
    }, limit);
}

}  // namespace tindlewave::kernel
