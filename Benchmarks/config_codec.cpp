// The configuration codec on a large file (50 devices with 10 rules each) next to the JSON
// library's bare parse and dump of the same bytes, so that the cost of our layer shows as a ratio.
// Targets: the whole decode (two parses, the walk and validation) within 4x of one bare parse;
// encode within 2x of a bare dump. A file of many devices decodes in time linear in their number
// (the fitted complexity is N, not N squared: 90,000 devices within a second or two).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "Model/ConfigCodec.h"

namespace tindlewave {
namespace {

std::vector<Rule> tenRules() {
    const Control thumb = Control::hidpp(CID{0xC3});
    const KeyCode s = *KeyCode::named("s");
    return {
        {thumb, Trigger::click(), Action::system(SystemAction::missionControl)},
        {thumb, Trigger::holdMove(Direction::up), Action::system(SystemAction::appExpose)},
        {thumb, Trigger::holdMove(Direction::down), Action::system(SystemAction::appExpose)},
        {thumb, Trigger::holdMove(Direction::left), Action::system(SystemAction::spaceLeft)},
        {thumb, Trigger::holdMove(Direction::right), Action::system(SystemAction::spaceRight)},
        {Control::hidpp(CID{0xC4}), Trigger::click(),
         Action::shortcut(Chord{s, Modifiers::shift | Modifiers::command})},
        {Control::thumbWheel(), Trigger::scroll(), Action::reverse()},
        {Control::button(1), Trigger::holdMove(), Action::scroll()},
        {Control::button(3), Trigger::hold(), Action::modifier(HeldModifier::rightOption)},
        {Control::key(*HIDUsage::named("escape")), Trigger::click(),
         Action::shortcut(Chord{s, Modifiers::option})},
    };
}

const Config& largeConfig() {
    static const Config config = [] {
        Config built = Config::empty();
        for (int i = 0; i < 50; ++i) {
            DeviceProfile profile{
                DeviceMatch::device(VendorID::logitech,
                                    ProductID{static_cast<std::uint16_t>(0xB000 + i)}),
                "Mouse number " + std::to_string(i)};
            profile.rules = tenRules();
            profile.gestures = GestureSettings::defaults();
            profile.scrolling = ScrollSettings{SmoothScroll::defaults(), true,
                                               HoldToScroll::defaults(), ClickThrough{true, false}};
            built.devices.push_back(std::move(profile));
        }
        built.ignored.push_back(DeviceMatch::builtIn());
        return built;
    }();
    return config;
}

const std::string& largeFile() {
    static const std::string bytes = [] {
        auto encoded = ConfigCodec::encode(largeConfig());
        if (!encoded.ok() || !ConfigCodec::decode(*encoded).ok()) std::abort();
        return *encoded;
    }();
    return bytes;
}

void configDecode(benchmark::State& state) {
    const std::string& bytes = largeFile();
    for (auto _ : state) {
        auto config = ConfigCodec::decode(bytes);
        benchmark::DoNotOptimize(config);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(configDecode);

// A file of `count` devices, each a match and a name, and as many other devices ignored: what the
// checks for a device given twice or also ignored go through.
std::string manyDevicesFile(std::size_t count) {
    Config config = Config::empty();
    for (std::size_t i = 0; i < count; ++i) {
        config.devices.push_back(DeviceProfile{
            DeviceMatch::device(VendorID{static_cast<std::uint16_t>(1 + i / 0x10000)},
                                ProductID{static_cast<std::uint16_t>(i % 0x10000)}),
            "Device " + std::to_string(i)});
    }
    for (std::size_t i = 0; i < count; ++i)
        config.ignored.push_back(DeviceMatch::device(VendorID{0xFFFF}, ProductID{static_cast<std::uint16_t>(i)}));
    auto encoded = ConfigCodec::encode(config);
    if (!encoded.ok()) std::abort();
    return *encoded;
}

void configDecodeManyDevices(benchmark::State& state) {
    const std::string bytes = manyDevicesFile(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        auto config = ConfigCodec::decode(bytes);
        if (!config.ok()) std::abort();
        benchmark::DoNotOptimize(config);
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(configDecodeManyDevices)->RangeMultiplier(4)->Range(1 << 10, 90000)->Complexity()->Unit(benchmark::kMillisecond);

void jsonParse(benchmark::State& state) {
    const std::string& bytes = largeFile();
    for (auto _ : state) {
        auto document = nlohmann::json::parse(bytes);
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(jsonParse);

void configEncode(benchmark::State& state) {
    const Config& config = largeConfig();
    for (auto _ : state) {
        auto bytes = ConfigCodec::encode(config);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(configEncode);

void jsonDump(benchmark::State& state) {
    const nlohmann::json document = nlohmann::json::parse(largeFile());
    for (auto _ : state) {
        auto text = document.dump(2);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(jsonDump);

}  // namespace
}  // namespace tindlewave
