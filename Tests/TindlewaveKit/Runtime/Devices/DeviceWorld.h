#pragma once

// A simulated HID world on manual executors and a virtual clock, with a journal that can be read
// back, for the tests of the device side.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/Simulated/HID/SimulatedHIDInterface.h"
#include "Platform/Simulated/HID/SimulatedHIDWorld.h"
#include "Platform/Simulated/KeyMap/SimulatedHidutilState.h"
#include "Platform/Simulated/Permissions/SimulatedPermissionGrants.h"
#include "Runtime/Stores/Journal.h"
#include "TestKit/FakeHidutil.h"
#include "TestKit/HIDPPBytes.h"
#include "TestKit/ManualExecutor.h"
#include "TestKit/TempFolder.h"
#include "TindlewaveKit/Platform/Simulated/HID/RecordedMice.h"

namespace tindlewave::testing {

struct DeviceWorld : ::testing::Test {
    testkit::ManualScheduler scheduler;
    testkit::ManualExecutor hid{scheduler, "hid"};
    SimulatedPermissionGrants grants;
    testkit::TempFolder folder;
    testkit::FakeHidutil hidutil{folder / "hidutil.json"};  // the tool finds it through the environment
    LogStore store{folder.path() / "log", false, scheduler.clock()};
    Journal journal{Logger("app.tindlewave", "devices", store)};
    SimulatedHIDWorld world{hid, grants, &hidutil};



    // Every recorded mouse.
    static std::vector<VirtualMouseDescription> recordedMice() {
        std::vector<VirtualMouseDescription> mice;
        auto files = recordedMouseFiles(recordedMiceFolder());
        EXPECT_TRUE(files) << files.error();
        for (const auto& file : files ? *files : std::vector<std::string>{}) {
            auto mouse = loadVirtualMouse(file);
            EXPECT_TRUE(mouse) << mouse.error();
            if (mouse) mice.push_back(*mouse);
        }
        return mice;
    }
    // The first recorded mouse with a thumb wheel.
    static VirtualMouseDescription recordedMouse() {
        for (auto& mouse : recordedMice()) {
            if (mouse.thumbWheel) return mouse;
        }
        ADD_FAILURE() << "no recorded mouse with a thumb wheel";
        return VirtualMouseDescription::basic({}, true);
    }

    // Attaches a device and lets the world take it in; returns its first interface.
    HIDDeviceRef plugIn(SimulatedDevice device) {
        const auto attached = world.attach(std::move(device));
        scheduler.runReady();
        return world.interface(attached.interfaces[0])->shared_from_this();
    }
    SimulatedHIDInterface& simulated(const HIDDeviceRef& device) {
        return static_cast<SimulatedHIDInterface&>(*device);
    }

    // The journal's lines so far.
    std::vector<std::string> lines() {
        std::vector<std::string> messages;
        auto entries = store.entries("app.tindlewave");
        EXPECT_TRUE(entries.ok());
        if (!entries) return messages;
        for (const auto& entry : *entries) messages.push_back(entry.message);
        return messages;
    }
};

}  // namespace tindlewave::testing
