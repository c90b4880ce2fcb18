// The key map's write and read-back of one route on a keyboard of 256 scan codes (over the device
// emulation), beside the bare ioctls the same work needs: the whole table listed by index, one
// scan code set, the table listed again, each on its own open of the node.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "Core/Devices/ConfigMatching.h"
#include "Model/Config.h"
#include "Platform/Linux/KeyMap/EvdevKeyMap.h"
#include "Platform/Linux/Devices/LinuxDeviceRegistry.h"
#include "Runtime/KeyMap/KeyMapWriter.h"
#include "Runtime/Worlds/LinuxWorld.h"
#include "TestKit/TempFolder.h"
#include "TestKit/Umockdev/Fixtures.h"
#include "TestKit/Umockdev/Preload.h"
#include "TestKit/Umockdev/Testbed.h"
#include "../Tests/Devices/KeyMap/KeyTableSide.h"

namespace tindlewave::testkit::umockdev {

namespace {

// Every usage of the keyboard page below 0x100: 256 scan codes.
ScanCodeMap fullTable() {
    ScanCodeMap table;
    for (std::uint32_t usage = 0; usage < 0x100; ++usage) table[0x70000 + usage] = 0;
    for (std::uint32_t usage = 0x04; usage <= 0x39; ++usage) table[0x70000 + usage] = std::uint16_t(usage);
    table[0x70039] = 58;  // Caps Lock
    return table;
}

struct Bench {
    Testbed testbed;
    TempFolder runtime;
    FixtureDevice keyboard = usbKeyboard(1);
    std::unique_ptr<KeyTableSide> side;
    std::unique_ptr<LinuxDeviceRegistry> registry;
    std::unique_ptr<EvdevKeyMap> keyMap;

    Bench() {
        testbed.add(keyboard.text());
        side = std::make_unique<KeyTableSide>(testbed, keyboard.event, fullTable());
        registry = std::make_unique<LinuxDeviceRegistry>();
        keyMap = std::make_unique<EvdevKeyMap>([this] { return LinuxWorld::keyboards(*registry); },
                                               runtime / "keymap", "8c3f0e2a-1b2c-4d5e-9f00-123456789abc");
    }
    ~Bench() {
        keyMap.reset();
        registry.reset();
        side.reset();
    }
};

const std::string matching =
    hidutilKeyboardMatching(DeviceMatch::device(VendorID{0x3412}, ProductID{0x7801}));

void listTable(int fd) {
    for (std::uint16_t index = 0;; ++index) {
        input_keymap_entry entry{};
        entry.flags = INPUT_KEYMAP_BY_INDEX;
        entry.index = index;
        if (::ioctl(fd, EVIOCGKEYCODE_V2, &entry) != 0) return;
        benchmark::DoNotOptimize(entry.keycode);
    }
}

void BM_KeyMapWriteAndReadBack(benchmark::State& state) {
    Bench bench;
    const KeyMapHost host{.backend = bench.keyMap.get()};
    const KeyMapSetup hyper = {{{HIDUsage{0x39},
                                 KeyTarget::carrier(Carrier::hyperKey(), CarrierMeaning::holdModifiers({}))}}};
    const KeyMapSetup none;
    (void)KeyMapWriter::readNow(host, matching);  // the baseline, once per boot
    bool on = false;
    for (auto _ : state) {
        on = !on;
        auto written = KeyMapWriter::writeNow(host, on ? hyper : none, matching);
        if (!written.ok()) state.SkipWithError(written.error().description().c_str());
    }
}
BENCHMARK(BM_KeyMapWriteAndReadBack)->Unit(benchmark::kMillisecond);

// The floor: the same ioctls and opens, with nothing around them.
void BM_BareKeyTableIoctls(benchmark::State& state) {
    Bench bench;
    bool on = false;
    for (auto _ : state) {
        on = !on;
        int fd = ::open(bench.keyboard.event.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        listTable(fd);
        input_keymap_entry entry{};
        entry.len = 4;
        entry.keycode = on ? 188 : 58;
        const std::uint32_t scanCode = 0x70039;
        std::memcpy(entry.scancode, &scanCode, 4);
        ::ioctl(fd, EVIOCSKEYCODE_V2, &entry);
        ::close(fd);
        fd = ::open(bench.keyboard.event.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        listTable(fd);
        ::close(fd);
    }
}
BENCHMARK(BM_BareKeyTableIoctls)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace tindlewave::testkit::umockdev

int main(int argc, char** argv) {
    tindlewave::testkit::umockdev::ensurePreloaded(argc, argv);
    tindlewave::testkit::umockdev::usePrivateTemporaryFolder();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
