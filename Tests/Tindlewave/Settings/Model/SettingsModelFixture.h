#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Platform/Simulated/Permissions/SimulatedPermissionGrants.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Stores/LogStore.h"
#include "Runtime/Permissions.h"
#include "Settings/Model/SettingsModel.h"
#include "TestKit/ManualExecutor.h"
#include "TestKit/TempFolder.h"
#include "Tindlewave/Fakes/FakeConfigFile.h"
#include "Tindlewave/Fakes/FakeEngine.h"
#include "Platform/Simulated/Desktop/SimulatedLoginItem.h"

namespace tindlewave::testkit {

// A settings model over fakes, on a manual main executor, with its defaults and log in a
// temporary folder.
struct SettingsModelTest : ::testing::Test {
    TempFolder folder;
    ManualScheduler scheduler;
    ManualExecutor main{scheduler, "main"};
    FakeConfigFile store;
    FakeEngine engine;
    Defaults defaults{folder.path() / "defaults.json"};
    SimulatedLoginItem loginItem;
    SimulatedPermissionGrants grants;
    Permissions permissions{grants};
    LogStore log{folder.path() / "log", false, scheduler.clock()};
    std::unique_ptr<SettingsModel> model;
    std::vector<SettingsField> told;
    Subscription observation;

    SettingsModel& make() {
        model = std::make_unique<SettingsModel>(SettingsModel::Services{
            .main = main,
            .store = store,
            .engine = engine,
            .updates = nullptr,
            .defaults = defaults,
            .loginItem = loginItem,
            .permissions = permissions,
            .log = log,
        });
        observation = model->observe([this](SettingsField f) { told.push_back(f); });
        return *model;
    }

    // This run's "settings" lines, in order.
    std::vector<std::string> logLines() {
        std::vector<std::string> lines;
        auto entries = log.entries("app.tindlewave");
        if (entries)
            for (const auto& entry : *entries)
                if (entry.category == "settings")
                    lines.push_back((entry.level == LogLevel::error ? "error: " : "") +
                                    entry.message);
        return lines;
    }
};

inline DeviceMatch mouseMatch() {
    return DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023});
}

}  // namespace tindlewave::testkit
