#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "Settings/Model/ConfigFile.h"

namespace tindlewave::testkit {

// A settings file in memory. Updates wait until the test finishes them, one at a time in order;
// their `done` runs on the test's thread (standing in for the store's executor).
struct FakeConfigFile final : ConfigFile {
    struct Update {
        std::function<Config(const Config&)> transform;
        std::function<void(std::optional<ConfigError>)> done;
    };

    std::string path = "/home/someone/.config/tindlewave/config.json";
    Config file = Config::empty();
    std::deque<Update> updates;
    std::function<void()> startDone;
    int starts = 0;
    std::vector<Channel<ConfigSnapshot>> subscribers;
    std::optional<ConfigSnapshot> current;

    const std::string& url() const override { return path; }
    void start(std::function<void()> done) override {
        ++starts;
        startDone = std::move(done);
    }
    // Like the store, a new stream starts with the current snapshot.
    Channel<ConfigSnapshot> snapshots() override {
        Channel<ConfigSnapshot> channel(Buffering::unbounded);
        if (current) channel.send(*current);
        subscribers.push_back(channel);
        return channel;
    }
    void update(std::function<Config(const Config&)> transform,
                std::function<void(std::optional<ConfigError>)> done) override {
        updates.push_back({std::move(transform), std::move(done)});
    }

    // Finishes the oldest update: writes its result, or fails it with `error`.
    void finishUpdate(std::optional<ConfigError> error = std::nullopt) {
        Update next = std::move(updates.front());
        updates.pop_front();
        if (!error) file = next.transform(file);
        next.done(std::move(error));
    }
    // Makes `snapshot` the current one and sends it to every subscriber.
    void publish(const ConfigSnapshot& snapshot) {
        current = snapshot;
        for (auto& subscriber : subscribers) subscriber.send(snapshot);
    }
};

}  // namespace tindlewave::testkit
