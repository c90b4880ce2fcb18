#include "Runtime/Stores/ConfigStore.h"

#include <sys/epoll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>

#include "Model/ConfigCodec.h"
#include "Platform/Clock.h"
#include "Platform/Linux/System/Files.h"
#include "Platform/Linux/System/FolderWatchDescriptor.h"
#include "Platform/Linux/System/FolderWatchThread.h"
#include "Runtime/Executors/Actors.h"
#include "Runtime/Executors/RunLoopExecutor.h"

namespace tindlewave {
namespace {

std::string folderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

ConfigError wholeFileError(std::string message) {
    return {"", std::move(message)};
}

}  // namespace

// Everything the store's jobs touch. Fields other than the posting gate and the stop are touched
// only on the store's executor.
struct ConfigStore::State : std::enable_shared_from_this<ConfigStore::State> {
    State(std::string path, RunLoopExecutor& executor, Decoder decoder)
        : url(std::move(path)),
          folder(folderOf(url)),
          loop(executor),
          decode(std::move(decoder)),
          gate(&executor) {}

    const std::string url;
    const std::string folder;
    RunLoopExecutor& loop;  // valid for every job, timer and fd callback
    const Decoder decode;
    // Requested when the store goes away: a reload's decoding ends early and publishes nothing.
    std::stop_source ending;

    std::optional<ConfigSnapshot> current;
    // Why the missing file could not be made at the start: until the file is read, this is why
    // there is nothing to read, not the read's own "No such file or directory".
    std::optional<ConfigError> notMade;
    std::map<std::uint64_t, Channel<ConfigSnapshot>> subscribers;
    std::uint64_t nextSubscriber = 0;
    std::unique_ptr<FolderWatchDescriptor> watch;  // set once watching has started
    FdWatch watchSource;
    TimerHandle reloadTimer;
    bool reloadPending = false;

    // Posting from other threads goes through the gate, closed when the store goes away.
    std::mutex gateMutex;
    RunLoopExecutor* gate;

    void post(std::function<void()> job) {
        std::lock_guard lock(gateMutex);
        if (gate != nullptr) gate->post(std::move(job));
    }

    void start() {
        if (watch) return;
        std::optional<std::string> writeFailure;
        if (auto made = files::makeFolders(folder); !made.ok()) {
            writeFailure = made.error().description;
        } else if (struct stat info{}; ::lstat(url.c_str(), &info) != 0 && errno == ENOENT) {
            auto bytes = ConfigCodec::encode(Config::empty());
            if (!bytes.ok()) {
                writeFailure = bytes.error().message;
            } else if (auto written = files::writeAtomically(url, *bytes); !written.ok()) {
                writeFailure = written.error().description;
            }
        }
        if (writeFailure) {
            // The file's path, also when it was a folder above it that could not be made.
            notMade = wholeFileError("cannot create " + url + ": " + *writeFailure);
            publish({std::nullopt, *notMade});
        }
        // What an update killed mid-write left beside the file.
        files::removeStaleTemporaries(url);
        // Watching starts before the first load, so a save made in between is not missed. Only
        // the file's own changes wake the store, not those of the other files beside it.
        auto folderWatch = std::make_unique<FolderWatchDescriptor>(
            folder, FolderWatchDescriptor::Changes::contents, nameOf(url));
        if (folderWatch->isValid()) {
            watchSource =
                loop.addFd(folderWatch->fd(), EPOLLIN, [this](std::uint32_t) { folderChanged(); });
            if (watchSource.isArmed()) watch = std::move(folderWatch);
        }
        reload();
    }

    // A burst of changes costs one reload, 0.15 s after its first change.
    void folderChanged() {
        if (!watch->drain() || reloadPending) return;
        reloadPending = true;
        reloadTimer = loop.schedule(loop.clock().now() + folderWatchLatency, [this] {
            reloadPending = false;
            reload();
        });
    }

    void reload() {
        std::optional<Config> kept = current ? current->config : std::nullopt;
        auto bytes = files::read(url);
        if (!bytes.ok()) {
            publish({std::move(kept),
                     notMade ? *notMade
                             : wholeFileError("cannot read the file: " + bytes.error().description)});
            return;
        }
        notMade.reset();
        auto decoded = decode(*bytes, ending.get_token());
        if (ending.stop_requested()) return;
        if (!decoded.ok()) {
            publish({std::move(kept), decoded.error()});
            return;
        }
        publish({std::move(decoded).value(), std::nullopt});
    }

    void publish(ConfigSnapshot snapshot) {
        if (current && *current == snapshot) return;
        current = std::move(snapshot);
        for (auto it = subscribers.begin(); it != subscribers.end();) {
            if (it->second.send(*current)) {
                ++it;
            } else {
                it = subscribers.erase(it);
            }
        }
    }

    void subscribe(std::uint64_t key, Channel<ConfigSnapshot> channel) {
        if (channel.isTerminated()) return;
        if (current) channel.send(*current);
        subscribers.emplace(key, std::move(channel));
    }

    std::optional<ConfigError> update(const std::function<Config(const Config&)>& transform) {
        auto bytes = files::read(url);
        if (!bytes.ok()) {
            return wholeFileError("cannot read the file: " + bytes.error().description);
        }
        // The update's own decodings are not stopped: its edit is written whatever comes next.
        auto old = decode(*bytes, {});
        if (!old.ok()) {
            // The lead-in first, then the decoding error with its own path.
            return wholeFileError("the file has an error, so it was not changed. " +
                                  old.error().description());
        }
        Config changed = transform(*old);
        if (changed == *old) return std::nullopt;
        auto encoded = ConfigCodec::encode(changed);
        if (!encoded.ok()) return wholeFileError(encoded.error().message);
        if (auto check = decode(*encoded, {}); !check.ok()) return check.error();
        if (auto written = files::writeAtomically(url, *encoded); !written.ok()) {
            return wholeFileError("cannot write " + url + ": " + written.error().description);
        }
        reload();
        return std::nullopt;
    }
};

ConfigStore::ConfigStore(std::string path, Decoder decode)
    : url_(std::move(path)),
      executor_(std::make_unique<RunLoopExecutor>(std::string(bundleIdentifier) + ".config")) {
    if (!decode) {
        decode = [](std::string_view bytes, const std::stop_token& stop) {
            return ConfigCodec::decode(bytes, stop);
        };
    }
    state_ = std::make_shared<State>(url_, *executor_, std::move(decode));
}

ConfigStore::~ConfigStore() {
    state_->ending.request_stop();
    // What was posted before the end still runs, a reload returning at once: an update queued
    // behind a reload's decoding (an edit made just before a quit) is written, not dropped.
    if (!executor_->isCurrent()) {
        std::promise<void> drained;
        auto ran = drained.get_future();
        state_->post([&drained] { drained.set_value(); });
        ran.wait();
    }
    {
        std::lock_guard lock(state_->gateMutex);
        state_->gate = nullptr;
    }
    executor_.reset();  // stops and joins: no job, timer or fd callback runs after this
    state_->reloadTimer.cancel();
    state_->watchSource.cancel();
}

std::string ConfigStore::defaultURL() {
    // The XDG base-directory convention; files::environmentFolder leaves out a folder of another
    // user's (root run by a sudo that keeps the environment), whose default is root's own.
    std::string config = files::baseFolder("XDG_CONFIG_HOME", ".config");
    while (config.size() > 1 && config.back() == '/') config.pop_back();
    return config + "/tindlewave/config.json";
}

void ConfigStore::start(std::function<void()> done) {
    state_->post([state = state_, done = std::move(done)] {
        state->start();
        if (done) done();
    });
}

Channel<ConfigSnapshot> ConfigStore::snapshots() {
    static std::atomic<std::uint64_t> keys{0};
    const std::uint64_t key = keys.fetch_add(1);
    Channel<ConfigSnapshot> channel(Buffering::unbounded);
    std::weak_ptr<State> weak = state_;
    channel.onTermination([weak, key] {
        if (auto state = weak.lock()) {
            state->post([weak, key] {
                if (auto alive = weak.lock()) alive->subscribers.erase(key);
            });
        }
    });
    if (executor_->isCurrent()) {
        state_->subscribe(key, channel);
    } else {
        state_->post([state = state_, key, channel] { state->subscribe(key, channel); });
    }
    return channel;
}

void ConfigStore::update(std::function<Config(const Config&)> transform,
                         std::function<void(std::optional<ConfigError>)> done) {
    state_->post([state = state_, transform = std::move(transform), done = std::move(done)] {
        auto error = state->update(transform);
        if (done) done(std::move(error));
    });
}

}  // namespace tindlewave
