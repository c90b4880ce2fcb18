#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Core/Devices/DeviceIdentity.h"
#include "Core/HIDPP/Step.h"
#include "Core/Keys/KeyRoutes.h"
#include "Core/Listening/Listener.h"
#include "Model/Capabilities.h"
#include "Runtime/Stores/Journal.h"
#include "TestKit/ManualExecutor.h"
#include "TestKit/TempFolder.h"

using namespace tindlewave;
using namespace tindlewave::testkit;

namespace {

struct JournalFixture : ::testing::Test {
    TempFolder folder;
    ManualClock clock;
    LogStore store{folder.path(), false, clock};
    Journal journal{Logger("app.tindlewave", "devices", store)};

    std::vector<std::string> lines() {
        std::vector<std::string> messages;
        auto entries = store.entries("app.tindlewave");
        EXPECT_TRUE(entries.ok());
        for (const auto& entry : *entries) {
            EXPECT_EQ(entry.category, "devices");
            EXPECT_EQ(entry.level, LogLevel::defaultLevel);
            messages.push_back(entry.message);
        }
        return messages;
    }

    static PresentDevice unnamedMouse() {
        PresentDevice device;
        device.id = DeviceInstanceID{12};
        device.properties.vendor = VendorID{0x046D};
        device.properties.product = ProductID{0x0ABC};
        device.properties.primaryUsagePage = 1;
        device.properties.primaryUsage = 2;
        device.properties.usagePairs = {{1, 2}};
        return device;
    }
    static PresentDevice namedKeyboard() {
        PresentDevice device;
        device.id = DeviceInstanceID{3};
        device.properties.vendor = VendorID{0x05AC};
        device.properties.product = ProductID{0x0281};
        device.properties.name = "Desk Keys";
        device.properties.transport = "USB";
        device.properties.builtIn = true;
        device.properties.usagePairs = {{1, 6}};
        device.eventServices = {SenderID{0x1A}, SenderID{0x100000B2F}};
        return device;
    }
};

}  // namespace

TEST_F(JournalFixture, DeviceLinesHaveTheirExactTexts) {
    const auto mouse = unnamedMouse();
    journal.connected(mouse, std::nullopt, false);
    journal.connected(namedKeyboard(), "Work", true);
    journal.changed(mouse);
    journal.disconnected(mouse);
    HIDPPCapabilities capabilities{.controls = {{CID{0xC3}, true, true},
                                                {CID{0x50}, false, false},
                                                {CID{0x52}, true, false},
                                                {CID{0x0D7}, false, true}},
                                   .thumbWheel = true};
    journal.discovered(mouse, capabilities);
    journal.discovered(mouse, HIDPPCapabilities{});

    EXPECT_EQ(lines(),
              (std::vector<std::string>{
                  "connect #12 Unknown device profile=none vendor=0x46d product=0xabc "
                  "builtIn=false kind=mouse transport=- services=[]",
                  "present #3 Desk Keys profile=Work vendor=0x5ac product=0x281 builtIn=true "
                  "kind=keyboard transport=USB services=[0x1a,0x100000b2f]",
                  "services #12 Unknown device kind=mouse services=[]",
                  "disconnect #12 Unknown device",
                  "discovered #12 Unknown device controls=[0xC3+divert+rawXY,0x50,0x52+divert,"
                  "0xD7] thumbWheel=true",
                  "discovered #12 Unknown device controls=[] thumbWheel=false",
              }));
}

TEST_F(JournalFixture, ApplyLinesShowReasonsAttemptsAndOutcomes) {
    const auto mouse = unnamedMouse();
    ApplyScheduler::Job job{{ApplyReason::retry, ApplyReason::connected}, 3};
    KeyMapSetup two;
    two.routes.resize(2);
    journal.applied(mouse, job, two, std::nullopt);
    journal.applied(mouse, job, KeyMapSetup::neutral(), KeyMapError::timedOut());
    journal.applied(mouse, ApplyScheduler::Job{{ApplyReason::launch}, 1}, HIDPPOutcome::applied());
    auto failure = HIDPPFailure::inconsistentDiscovery();
    journal.applied(mouse, job, HIDPPOutcome::failed(failure));

    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "apply #12 Unknown device reasons=connected,retry attempt=3 routes=2 "
                           "applied",
                           "apply #12 Unknown device reasons=connected,retry attempt=3 routes=0 "
                           "failed: hidutil timed out",
                           "hidpp #12 Unknown device reasons=launch attempt=1 applied",
                           "hidpp #12 Unknown device reasons=connected,retry attempt=3 failed: " +
                               failure.description(),
                       }));
}

TEST_F(JournalFixture, NotesOfSlotsSessionsEngineAndListening) {
    const auto keyboard = namedKeyboard();
    journal.note("free text");
    journal.surveyFailed(keyboard, "hidutil timed out");
    journal.hidppSkipped(unnamedMouse(), "waiting for Input Monitoring");
    journal.writeFailed(0xE00002D8);
    journal.tapReenabled();
    journal.wokeFromSleep();
    journal.listenRefused(ListenEnd::needsAccessibility);
    journal.listenArmed(ListenID{4}, keyboard);
    journal.listenHeard(ListenID{4}, ListenPress::hidpp(CID{0xC3}));
    journal.listenTimedOut(ListenID{4});
    journal.listenStopped();
    journal.listenEnded(std::nullopt);
    journal.listenEnded(ListenEnd::slept);

    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "free text",
                           "survey #3 Desk Keys failed: hidutil timed out",
                           "HID++ #12 Unknown device skipped: waiting for Input Monitoring",
                           "HID++ write returned 0xe00002d8; the link asks again",
                           "tap re-enabled after the system disabled it",
                           "woke from sleep",
                           "listen refused: needsAccessibility",
                           "listen #4 on #3 Desk Keys",
                           "listen #4 heard " + ListenPress::hidpp(CID{0xC3}).description(),
                           "listen #4 timed out",
                           "listen stopped",
                           "listen ended: stopped",
                           "listen ended: slept",
                       }));
}

TEST_F(JournalFixture, ADisabledLevelFormatsAndWritesNothing) {
    store.setEnabled(LogLevel::defaultLevel, false);
    journal.connected(unnamedMouse(), std::nullopt, false);
    journal.note("nothing");
    int built = 0;
    journal.logger().logLazily(LogLevel::defaultLevel, [&] {
        ++built;
        return std::string("never");
    });
    EXPECT_EQ(built, 0);
    EXPECT_TRUE(lines().empty());

    store.setEnabled(LogLevel::defaultLevel, true);
    journal.note("back");
    EXPECT_EQ(lines(), std::vector<std::string>{"back"});
}
