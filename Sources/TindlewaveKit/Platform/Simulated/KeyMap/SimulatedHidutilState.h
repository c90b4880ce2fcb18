#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <string>

namespace tindlewave {

// The state file of the stand-in hidutil (Tools/hidutil-fake): the keyboard services it knows,
// their mappings and its fault switches, as a JSON object. The simulated HID world keeps the
// services of attached keyboards in it, and tests set the switches ("exitStatus", "hang",
// "garbage", "delay", and "lags" per service). Every edit holds the file's lock, as the tool does
// for each run, so edits and runs on other threads never interleave.
class SimulatedHidutilState {
  public:
    // The name of the environment variable through which the tool finds the file.
    static constexpr const char* environmentVariable = "TINDLEWAVE_HIDUTIL_STATE";

    explicit SimulatedHidutilState(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    // Writes a state with no services and no switches set.
    void reset() const;
    // The whole state (an empty object when the file is missing or not JSON).
    nlohmann::json load() const;
    void save(const nlohmann::json& state) const;
    // Reads, edits and writes the state under the file's lock.
    void change(const std::function<void(nlohmann::json&)>& edit) const;

    // A keyboard service with these properties (built-in ones carry "Built-In": 1). A service
    // with the same id is replaced.
    void addKeyboard(std::uint64_t id, int vendor, int product, bool builtIn = false,
                     bool lags = false) const;
    void removeService(std::uint64_t id) const;

  private:
    std::string path_;
};

}  // namespace tindlewave
