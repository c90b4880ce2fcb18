// What the key-map writer does with the most output it keeps from hidutil (4 MiB): decode it as
// UTF-8 and parse it as a read-back table. Target: both well inside the 3 s a run may take, in the
// table's own layout and in the worst layout for the parser (a line per byte pair).

#include <benchmark/benchmark.h>

#include <string>

#include "Platform/Linux/System/ProcessRunner.h"
#include "Runtime/KeyMap/HidutilReadback.h"

namespace tindlewave {
namespace {

constexpr std::size_t kept = std::size_t{4} << 20;

// Service rows with two entries each, in hidutil's layout, up to the limit.
std::string tables() {
    std::string text = "RegistryID  Key                   Value\n";
    for (std::uint64_t id = 0x100000000; text.size() < kept; ++id) {
        char row[32];
        std::snprintf(row, sizeof row, "%llx", static_cast<unsigned long long>(id));
        text += std::string(row) + "   UserKeyMapping   (\n";
        for (int entry = 0; entry < 2; ++entry) {
            text += "        {\n        HIDKeyboardModifierMappingDst = 30064771129;\n"
                    "        HIDKeyboardModifierMappingSrc = 30064771113;\n    },\n";
        }
        text += ")\n";
    }
    text.resize(kept);
    return text;
}

void readBack(benchmark::State& state, const std::string& output) {
    for (auto _ : state) {
        auto services = HidutilReadback::parse(decodeUTF8Lossy(output));
        benchmark::DoNotOptimize(services);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * output.size()));
}

void BM_ReadBackOfTables(benchmark::State& state) {
    static const std::string output = tables();
    readBack(state, output);
}
BENCHMARK(BM_ReadBackOfTables)->Unit(benchmark::kMillisecond);

void BM_ReadBackOfShortLines(benchmark::State& state) {
    std::string output;
    while (output.size() < kept) output += "}\n";
    readBack(state, output);
}
BENCHMARK(BM_ReadBackOfShortLines)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tindlewave
