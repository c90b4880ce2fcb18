#include "Platform/Simulated/KeyMap/SimulatedHidutilState.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

namespace {

// The file open and locked for one edit; closing releases the lock. A link under the name is
// never followed: the edit is then not made.
class LockedFile {
  public:
    explicit LockedFile(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
        if (fd_.isOpen()) ::flock(fd_.get(), LOCK_EX);
    }

    bool isOpen() const { return fd_.isOpen(); }

    nlohmann::json read() const {
        std::string content;
        char buffer[8192];
        for (ssize_t got; (got = ::pread(fd_.get(), buffer, sizeof buffer, content.size())) > 0;) {
            content.append(buffer, static_cast<std::size_t>(got));
        }
        auto state = nlohmann::json::parse(content, nullptr, false);
        if (state.is_discarded() || !state.is_object()) return nlohmann::json::object();
        return state;
    }

    bool write(const nlohmann::json& state) const {
        const std::string text = state.dump(2) + "\n";
        return ::ftruncate(fd_.get(), 0) == 0 && ::pwrite(fd_.get(), text.data(), text.size(), 0) ==
                                                     static_cast<ssize_t>(text.size());
    }

  private:
    UniqueFd fd_;
};

}  // namespace

void SimulatedHidutilState::reset() const {
    save(nlohmann::json{{"services", nlohmann::json::array()}});
}

nlohmann::json SimulatedHidutilState::load() const {
    LockedFile file(path_);
    return file.isOpen() ? file.read() : nlohmann::json::object();
}

void SimulatedHidutilState::save(const nlohmann::json& state) const {
    LockedFile file(path_);
    if (file.isOpen()) file.write(state);
}

void SimulatedHidutilState::change(const std::function<void(nlohmann::json&)>& edit) const {
    LockedFile file(path_);
    if (!file.isOpen()) return;
    nlohmann::json state = file.read();
    if (!state.contains("services") || !state["services"].is_array()) {
        state["services"] = nlohmann::json::array();
    }
    edit(state);
    file.write(state);
}

void SimulatedHidutilState::addKeyboard(std::uint64_t id, int vendor, int product, bool builtIn,
                                        bool lags) const {
    change([&](nlohmann::json& state) {
        nlohmann::json properties{{"VendorID", vendor},
                                  {"ProductID", product},
                                  {"PrimaryUsagePage", 1},
                                  {"PrimaryUsage", 6}};
        if (builtIn) properties["Built-In"] = 1;
        auto& services = state["services"];
        for (auto it = services.begin(); it != services.end();) {
            it = it->value("id", std::uint64_t{0}) == id ? services.erase(it) : it + 1;
        }
        services.push_back({{"id", id}, {"properties", properties}, {"lags", lags}});
    });
}

void SimulatedHidutilState::removeService(std::uint64_t id) const {
    change([&](nlohmann::json& state) {
        auto& services = state["services"];
        for (auto it = services.begin(); it != services.end();) {
            it = it->value("id", std::uint64_t{0}) == id ? services.erase(it) : it + 1;
        }
    });
}

}  // namespace tindlewave
