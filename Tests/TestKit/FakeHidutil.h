#pragma once

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "Platform/Simulated/KeyMap/SimulatedHidutilState.h"
#include "Runtime/KeyMap/KeyMapWriter.h"

namespace tindlewave::testkit {

// The fake hidutil built with the project, with its state in a file of the test's own.
class FakeHidutil : public SimulatedHidutilState {
  public:
    explicit FakeHidutil(std::string stateFile) : SimulatedHidutilState(std::move(stateFile)) {
        // Set before any pool thread of the test runs a child, which inherits it.
        ::setenv(environmentVariable, path().c_str(), 1);
        reset();
    }

    // `pool`: where the children run (null: the shared pool).
    KeyMapHost host(WorkPool* pool = nullptr) const { return {TW_BINARY_ROOT "/hidutil-fake", pool}; }

    template <class F>
    void change(F&& edit) const {
        SimulatedHidutilState::change([&](nlohmann::json& state) { edit(state); });
    }
};

}  // namespace tindlewave::testkit
