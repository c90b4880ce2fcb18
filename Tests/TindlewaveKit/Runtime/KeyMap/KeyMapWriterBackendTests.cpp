#include <gtest/gtest.h>

#include <mutex>

#include "Platform/KeyMapBackend.h"
#include "Runtime/KeyMap/KeyMapWriter.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "TestKit/Waiter.h"

namespace tindlewave {
namespace {

using namespace KeyMapWriter;

const std::string keyboardMatching =
    R"({"VendorID":0x46D,"ProductID":0xC52B,"PrimaryUsagePage":1,"PrimaryUsage":6})";

KeyMapSetup hyperOnCapsLock() {
    return {{{HIDUsage{0x39},
              KeyTarget::carrier(Carrier::hyperKey(), CarrierMeaning::holdModifiers({}))}}};
}

// Keyboard services in memory: what a set-up makes them hold, unless one of them lags.
class MemoryBackend final : public KeyMapBackend {
  public:
    Result<Services, Failure> read(std::string_view) override {
        std::lock_guard lock(mutex);
        ++reads;
        if (failure) return *failure;
        return services;
    }
    Result<std::monostate, Failure> set(std::string_view, const KeyMapSetup& setup) override {
        std::lock_guard lock(mutex);
        ++sets;
        if (failure) return *failure;
        for (auto& [id, pairs] : services)
            if (id != lagging) pairs = expectedPairs(setup);
        return std::monostate{};
    }

    std::mutex mutex;
    Services services;
    std::optional<Failure> failure;
    std::uint64_t lagging = 0;
    int reads = 0, sets = 0;
};

// The writer's steps stay the same over a backend: set, read back, compare; its errors too.
TEST(KeyMapWriterOverABackend, WritesReadsBackAndComparesLikeWithHidutil) {
    MemoryBackend backend;
    const KeyMapHost host{.executable = "/nonexistent/hidutil", .backend = &backend};
    EXPECT_EQ(writeNow(host, hyperOnCapsLock(), keyboardMatching).error(),
              KeyMapError::noServiceMatched());

    backend.services = {{7, {}}, {9, {}}};
    backend.sets = backend.reads = 0;
    EXPECT_TRUE(writeNow(host, hyperOnCapsLock(), keyboardMatching).ok());
    EXPECT_EQ(*readNow(host, keyboardMatching),
              (Pairs{{0x700000039, 0x70000006D}}));
    EXPECT_EQ(backend.sets, 1);
    EXPECT_EQ(backend.reads, 2);  // the read-back, then the read

    backend.lagging = 9;
    EXPECT_EQ(writeNow(host, KeyMapSetup{}, keyboardMatching).error(),
              KeyMapError::serviceLagsDevice());

    backend.failure = KeyMapBackend::Failure{"/dev/input/event3: Permission denied"};
    auto failed = readNow(host, keyboardMatching);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().description(), "/dev/input/event3: Permission denied");
    EXPECT_EQ(writeNow(host, hyperOnCapsLock(), keyboardMatching).error(),
              KeyMapError::deviceFailed("/dev/input/event3: Permission denied"));
}

TEST(KeyMapWriterOverABackend, QueuedCallsReportOnTheCallersExecutor) {
    MemoryBackend backend;
    backend.services = {{7, {}}};
    RunLoopExecutor back("test.back");
    testkit::Waiter waiter;
    bool wrote = false, onBack = false;
    write(KeyMapHost{.backend = &backend}, back, hyperOnCapsLock(), keyboardMatching,
          [&](auto result) {
              waiter.update([&] {
                  wrote = result.ok();
                  onBack = back.isCurrent();
              });
          });
    EXPECT_TRUE(waiter.waitFor([&] { return wrote; }));
    EXPECT_TRUE(waiter.read([&] { return onBack; }));
    back.stop();
    back.join();
}

}  // namespace
}  // namespace tindlewave
