#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "Runtime/KeyMapWriter.h"

namespace tindlewave::testkit {

// The fake hidutil built with the project, with its state in a file of the test's own.
class FakeHidutil {
  public:
    explicit FakeHidutil(std::string stateFile) : stateFile_(std::move(stateFile)) {
        // Set before any pool thread of the test runs a child, which inherits it.
        ::setenv("TINDLEWAVE_HIDUTIL_STATE", stateFile_.c_str(), 1);
        save(nlohmann::json{{"services", nlohmann::json::array()}});
    }

    HidutilHost host() const { return {TW_BINARY_ROOT "/hidutil-fake", nullptr}; }

    nlohmann::json load() const {
        std::ifstream in(stateFile_);
        return nlohmann::json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
    }
    void save(const nlohmann::json& state) const { std::ofstream(stateFile_) << state.dump(2); }
    template <class F>
    void change(F&& edit) const {
        auto state = load();
        edit(state);
        save(state);
    }

    // A keyboard service of a device.
    void addKeyboard(std::uint64_t id, int vendor, int product, bool lags = false) const {
        change([&](nlohmann::json& state) {
            state["services"].push_back({{"id", id},
                                         {"properties",
                                          {{"VendorID", vendor},
                                           {"ProductID", product},
                                           {"PrimaryUsagePage", 1},
                                           {"PrimaryUsage", 6}}},
                                         {"lags", lags}});
        });
    }

  private:
    std::string stateFile_;
};

}  // namespace tindlewave::testkit
