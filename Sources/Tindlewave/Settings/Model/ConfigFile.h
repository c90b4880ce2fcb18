#pragma once

#include <functional>
#include <optional>
#include <string>

#include "Model/Config.h"
#include "Model/ConfigError.h"
#include "Runtime/Executors/Channel.h"
#include "Runtime/Stores/ConfigSnapshot.h"
#include "Runtime/Stores/ConfigStore.h"

namespace tindlewave {

// The settings file as the app and the settings model use it: the config store's operations.
// Callbacks run on the store's own executor; callers post what they do with them back to theirs.
class ConfigFile {
  public:
    virtual ~ConfigFile() = default;

    // The file's path, opened or revealed by the menu and the settings pages.
    virtual const std::string& url() const = 0;
    // Creates the folder and the file when missing, loads it and watches it.
    virtual void start(std::function<void()> done) = 0;
    // A new, independent stream of snapshots, starting with the current one.
    virtual Channel<ConfigSnapshot> snapshots() = 0;
    // Rewrites the file through `transform`; `done` gets the error that left it unchanged.
    virtual void update(std::function<Config(const Config&)> transform,
                        std::function<void(std::optional<ConfigError>)> done) = 0;
};

// The real file: a ConfigStore on its own executor.
class ConfigStoreFile final : public ConfigFile {
  public:
    explicit ConfigStoreFile(std::string path) : store_(std::move(path)) {}

    const std::string& url() const override { return store_.url(); }
    void start(std::function<void()> done) override { store_.start(std::move(done)); }
    Channel<ConfigSnapshot> snapshots() override { return store_.snapshots(); }
    void update(std::function<Config(const Config&)> transform,
                std::function<void(std::optional<ConfigError>)> done) override {
        store_.update(std::move(transform), std::move(done));
    }

  private:
    ConfigStore store_;
};

}  // namespace tindlewave
