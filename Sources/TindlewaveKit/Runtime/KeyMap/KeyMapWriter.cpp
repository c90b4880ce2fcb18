#include "Runtime/KeyMap/KeyMapWriter.h"

#include <chrono>

#include "Platform/Executor.h"
#include "Platform/KeyMapBackend.h"
#include "Platform/Linux/System/ProcessRunner.h"
#include "Runtime/Executors/KeyedSerialQueue.h"
#include "Runtime/Executors/ThreadPool.h"
#include "Runtime/Executors/WorkPool.h"

namespace tindlewave::KeyMapWriter {
namespace {

constexpr std::chrono::seconds watchdog{3};
// Far above any keyboard's table (a few hundred bytes per service); it bounds both the memory a
// flooding child can take and the time its output takes to parse.
constexpr std::size_t outputLimit = std::size_t{4} << 20;

// Calls for one matching text wait here, holding no pool thread, while an earlier one runs, so a
// replaced slot's call still running never overlaps the new slot's, and a hanging keyboard keeps
// one pool thread at most. Never destroyed: pool threads may finish calls while statics go.
KeyedSerialQueue& keyboardQueue() {
    static auto* const queue = new KeyedSerialQueue;
    return *queue;
}

WorkPool& poolOf(const KeyMapHost& host) {
    return host.pool != nullptr ? *host.pool : ThreadPool::shared();
}

}  // namespace

Result<HidutilRun, KeyMapError> hidutil(const KeyMapHost& host,
                                        const std::vector<std::string>& arguments) {
    auto run = runProcess(host.executable, arguments, watchdog, outputLimit);
    if (!run.ok()) return KeyMapError::hidutilFailed(-1, run.error().description);
    // Stopped at once: what it printed cannot be a keyboard's table.
    if (run->outputCut) return KeyMapError::hidutilFailed(-1, "hidutil printed more than 4 MiB");
    // Any death by a signal, the watchdog's or another, reads as a time-out.
    if (std::holds_alternative<ProcessOutcome::Signalled>(run->ending)) {
        return KeyMapError::timedOut();
    }
    return HidutilRun{std::get<ProcessOutcome::Exited>(run->ending).status,
                      decodeUTF8Lossy(run->output)};
}

Result<HidutilReadback::Services, KeyMapError> readBack(const KeyMapHost& host,
                                                        const std::string& matching) {
    if (host.backend) {
        auto services = host.backend->read(matching);
        if (!services.ok()) return KeyMapError::deviceFailed(services.error().reason);
        return std::move(*services);
    }
    auto run = hidutil(host, {"property", "--matching", matching, "--get", "UserKeyMapping"});
    if (!run.ok()) return run.error();
    if (run->status != 0) return KeyMapError::hidutilFailed(run->status, run->output);
    return HidutilReadback::parse(run->output);
}

Pairs expectedPairs(const KeyMapSetup& setup) {
    Pairs pairs;
    for (const auto& route : setup.routes) {
        pairs.insert({keyboardPageBase + route.source.rawValue,
                      keyboardPageBase + route.target.usage().rawValue});
    }
    return pairs;
}

Result<Pairs, KeyMapError> readNow(const KeyMapHost& host, const std::string& matching) {
    auto services = readBack(host, matching);
    if (!services.ok()) return services.error();
    Pairs all;
    for (const auto& [id, pairs] : *services) all.insert(pairs.begin(), pairs.end());
    return all;
}

Result<std::monostate, KeyMapError> writeNow(const KeyMapHost& host, const KeyMapSetup& setup,
                                             const std::string& matching) {
    if (host.backend) {
        auto set = host.backend->set(matching, setup);
        if (!set.ok()) return KeyMapError::deviceFailed(set.error().reason);
    } else {
        auto run = hidutil(host,
                           {"property", "--matching", matching, "--set", setup.userKeyMappingJSON()});
        if (!run.ok()) return run.error();
        if (run->status != 0) return KeyMapError::hidutilFailed(run->status, run->output);
    }
    auto services = readBack(host, matching);
    if (!services.ok()) return services.error();
    if (services->empty()) return KeyMapError::noServiceMatched();
    const Pairs expected = expectedPairs(setup);
    for (const auto& [id, pairs] : *services) {
        if (pairs != expected) return KeyMapError::serviceLagsDevice();
    }
    return std::monostate{};
}

void read(const KeyMapHost& host, Executor& back, std::string matching,
          std::function<void(Result<Pairs, KeyMapError>)> done) {
    KeyedLane lane(keyboardQueue(), poolOf(host), matching);
    runBlocking<Result<Pairs, KeyMapError>>(
        lane, back, [host, matching = std::move(matching)] { return readNow(host, matching); },
        std::move(done));
}

void write(const KeyMapHost& host, Executor& back, KeyMapSetup setup, std::string matching,
           std::function<void(Result<std::monostate, KeyMapError>)> done) {
    KeyedLane lane(keyboardQueue(), poolOf(host), matching);
    runBlocking<Result<std::monostate, KeyMapError>>(
        lane, back,
        [host, setup = std::move(setup), matching = std::move(matching)] {
            return writeNow(host, setup, matching);
        },
        std::move(done));
}

}  // namespace tindlewave::KeyMapWriter
