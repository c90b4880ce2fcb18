#include "Runtime/KeyMapWriter.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>

#include "Platform/Linux/ProcessRunner.h"
#include "Platform/Executor.h"
#include "Runtime/ThreadPool.h"
#include "Runtime/WorkPool.h"

namespace tindlewave::KeyMapWriter {
namespace {

constexpr std::chrono::seconds watchdog{3};

// One lock per matching text, for the life of the program: a slot replaced while its call runs
// must not have the new slot's survey or write overlap it.
std::mutex& lockFor(const std::string& matching) {
    static std::mutex registryMutex;
    static std::map<std::string, std::unique_ptr<std::mutex>> locks;
    std::lock_guard guard(registryMutex);
    auto& lock = locks[matching];
    if (!lock) lock = std::make_unique<std::mutex>();
    return *lock;
}

WorkPool& poolOf(const HidutilHost& host) {
    return host.pool != nullptr ? *host.pool : ThreadPool::shared();
}

}  // namespace

Result<HidutilRun, KeyMapError> hidutil(const HidutilHost& host,
                                        const std::vector<std::string>& arguments) {
    auto run = runProcess(host.executable, arguments, watchdog);
    if (!run.ok()) return KeyMapError::hidutilFailed(-1, run.error().description);
    // Any death by a signal, the watchdog's or another, reads as a time-out.
    if (std::holds_alternative<ProcessOutcome::Signalled>(run->ending)) {
        return KeyMapError::timedOut();
    }
    return HidutilRun{std::get<ProcessOutcome::Exited>(run->ending).status,
                      decodeUTF8Lossy(run->output)};
}

Result<HidutilReadback::Services, KeyMapError> readBack(const HidutilHost& host,
                                                        const std::string& matching) {
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

Result<Pairs, KeyMapError> readNow(const HidutilHost& host, const std::string& matching) {
    std::lock_guard serial(lockFor(matching));
    auto services = readBack(host, matching);
    if (!services.ok()) return services.error();
    Pairs all;
    for (const auto& [id, pairs] : *services) all.insert(pairs.begin(), pairs.end());
    return all;
}

Result<std::monostate, KeyMapError> writeNow(const HidutilHost& host, const KeyMapSetup& setup,
                                             const std::string& matching) {
    std::lock_guard serial(lockFor(matching));
    auto run =
        hidutil(host, {"property", "--matching", matching, "--set", setup.userKeyMappingJSON()});
    if (!run.ok()) return run.error();
    if (run->status != 0) return KeyMapError::hidutilFailed(run->status, run->output);
    auto services = readBack(host, matching);
    if (!services.ok()) return services.error();
    if (services->empty()) return KeyMapError::noServiceMatched();
    const Pairs expected = expectedPairs(setup);
    for (const auto& [id, pairs] : *services) {
        if (pairs != expected) return KeyMapError::serviceLagsDevice();
    }
    return std::monostate{};
}

void read(const HidutilHost& host, Executor& back, std::string matching,
          std::function<void(Result<Pairs, KeyMapError>)> done) {
    runBlocking<Result<Pairs, KeyMapError>>(
        poolOf(host), back,
        [host, matching = std::move(matching)] { return readNow(host, matching); },
        std::move(done));
}

void write(const HidutilHost& host, Executor& back, KeyMapSetup setup, std::string matching,
           std::function<void(Result<std::monostate, KeyMapError>)> done) {
    runBlocking<Result<std::monostate, KeyMapError>>(
        poolOf(host), back,
        [host, setup = std::move(setup), matching = std::move(matching)] {
            return writeNow(host, setup, matching);
        },
        std::move(done));
}

}  // namespace tindlewave::KeyMapWriter
