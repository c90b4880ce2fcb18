#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "Model/Config.h"
#include "Model/ConfigError.h"
#include "Model/Result.h"
#include "Runtime/Executors/Channel.h"
#include "Runtime/Stores/ConfigSnapshot.h"

namespace tindlewave {

class RunLoopExecutor;

// Owns the settings file: creates it when missing, loads and validates it, watches its folder and
// reloads after every change of the file (not of the other files beside it, unless the file is a
// link), and hands each new state of the file to its subscribers as a
// ConfigSnapshot. A name that holds no regular file, or a file over 16 MiB, reads as unreadable
// (the last good configuration is kept). It is also the file's only writer (update). Its work
// runs one job at a time on an executor of its own ("app.tindlewave.config"); every operation may
// be called from any thread.
class ConfigStore {
  public:
    // How the store turns the file's bytes into a configuration: ConfigCodec::decode, or a
    // stand-in. Called on the store's executor, with the stop that the store's end requests.
    using Decoder =
        std::function<Result<Config, ConfigError>(std::string_view, const std::stop_token&)>;

    // No input or output happens until start().
    explicit ConfigStore(std::string path, Decoder decode = nullptr);
    // Stops the store's executor (and with it the watching) before anything else goes. A reload
    // in progress is stopped and what it found dropped, so the program's quit never waits for the
    // decoding of a large file; an update in progress or queued is finished, so an edit made just
    // before is not lost.
    ~ConfigStore();
    ConfigStore(const ConfigStore&) = delete;
    ConfigStore& operator=(const ConfigStore&) = delete;

    // $XDG_CONFIG_HOME/tindlewave/config.json when XDG_CONFIG_HOME is an absolute path of this
    // user's (files::environmentFolder), else ~/.config/tindlewave/config.json.
    static std::string defaultURL();

    const std::string& url() const { return url_; }

    // Creates the folder and the file when missing, removes the temporaries of writers that were
    // killed mid-write, starts watching the folder, then loads the file. Does nothing once
    // watching has started. `done` runs on the store's executor. A file that cannot be made is
    // published as "cannot create <path>: <the system's error>", with no configuration, until the
    // file can be read.
    void start(std::function<void()> done = nullptr);

    // A new stream of snapshots (unbounded). The current snapshot, if there is one, comes first;
    // then every later one that differs. Ending the stream (cancelling its subscription) drops the
    // subscriber.
    Channel<ConfigSnapshot> snapshots();

    // Applies `transform` to the configuration as it stands in the file (read afresh), writes the
    // result and reloads; `done` gets no error once the file is written and the new snapshot
    // published, or the error with the file left untouched. A transform that changes nothing
    // writes and publishes nothing. `transform` is only called during the update, on the store's
    // executor; `done` runs there too.
    void update(std::function<Config(const Config&)> transform,
                std::function<void(std::optional<ConfigError>)> done = nullptr);

  private:
    struct State;

    const std::string url_;
    std::shared_ptr<State> state_;
    std::unique_ptr<RunLoopExecutor> executor_;
};

}  // namespace tindlewave
