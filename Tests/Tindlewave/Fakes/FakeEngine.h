#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Settings/Model/EngineControl.h"

namespace tindlewave::testkit {

// An engine that records the calls made to it (in `calls`, one word each) and whose streams the
// test feeds. `shutdown` keeps its `done` for the test to run.
struct FakeEngine final : EngineControl {
    std::vector<std::string> calls;
    Channel<EngineStatus> statusChannel{Buffering::newest};
    Channel<LearnedPress> heardChannel{Buffering::unbounded};
    std::vector<Channel<ConfigSnapshot>> configs;
    std::vector<Subscription> runSubscriptions;  // the engine's own reading of its inputs
    std::vector<ConfigSnapshot> configsSeen;
    std::vector<DeviceMatch> listenedTo;
    std::vector<bool> paused;
    std::function<void()> shutdownDone;
    int runsCancelled = 0;
    Executor* runExecutor = nullptr;  // where run() reads its inputs, when set

    Cancellable run(Channel<ConfigSnapshot> c) override {
        calls.push_back("run");
        configs.push_back(c);
        if (runExecutor) {
            runSubscriptions.push_back(
                c.subscribe(*runExecutor, [this](ConfigSnapshot s) { configsSeen.push_back(s); }));
        }
        return Cancellable([this] {
            calls.push_back("run cancelled");
            ++runsCancelled;
            runSubscriptions.clear();
        });
    }
    Channel<EngineStatus> statuses() override { return statusChannel; }
    Channel<LearnedPress> heard() override { return heardChannel; }
    void reapplyAll() override { calls.push_back("reapplyAll"); }
    void setPaused(bool p) override {
        calls.push_back("setPaused");
        paused.push_back(p);
    }
    void listen(DeviceMatch device) override {
        calls.push_back("listen");
        listenedTo.push_back(device);
    }
    void stopListening() override { calls.push_back("stopListening"); }
    void shutdown(std::function<void()> done) override {
        calls.push_back("shutdown");
        shutdownDone = std::move(done);
    }
};

}  // namespace tindlewave::testkit
