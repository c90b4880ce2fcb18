#include <gtest/gtest.h>

#include "Platform/Linux/Permissions/NodePermissionGrants.h"
#include "Settings/Model/General/GeneralTexts.h"
#include "Runtime/Worlds/WorldTexts.h"
#include "Settings/Model/Buttons/RuleRowValues.h"

namespace tindlewave {
namespace {

using namespace std::chrono;

TEST(GeneralTexts, LoginDetailPrefersTheFailureOverTheState) {
    EXPECT_EQ(GeneralTexts::loginDetail(LoginItemState::on, std::nullopt),
              "Tindlewave starts when you log in, so your devices are set up right away.");
    EXPECT_EQ(GeneralTexts::loginDetail(LoginItemState::off, std::nullopt),
              "Tindlewave starts only when you open it.");
    EXPECT_EQ(GeneralTexts::loginDetail(LoginItemState::needsApproval, std::nullopt),
              "Waiting for you to allow it in Login Items.");
    EXPECT_EQ(GeneralTexts::loginDetail(LoginItemState::on, "the folder is read-only"),
              "Could not change it: the folder is read-only");
}

TEST(GeneralTexts, LoadDetailShowsTheErrorOverAnEarlierLoadAndLoadingBeforeAny) {
    const TimeText time = [](Date) { return std::string("2:05 PM"); };
    const Date loaded{seconds{100}};
    EXPECT_EQ(GeneralTexts::loadDetail(std::nullopt, std::nullopt, time), "Loading\u2026");
    EXPECT_EQ(GeneralTexts::loadDetail(ConfigSnapshot{Config::empty(), std::nullopt}, loaded, time),
              "Loaded at 2:05 PM. Saving the file reloads it.");
    ConfigSnapshot broken{Config::empty(), ConfigError{"hyper.key", "is not a key"}};
    EXPECT_EQ(GeneralTexts::loadDetail(broken, loaded, time),
              "Has an error: hyper.key: is not a key. Tindlewave keeps using the last good settings.");
    broken.error = ConfigError{"", "the file is not JSON"};
    EXPECT_EQ(GeneralTexts::loadDetail(broken, loaded, time),
              "Has an error: the file is not JSON. Tindlewave keeps using the last good settings.");
    EXPECT_EQ(GeneralTexts::configErrorDetail(broken),
              "the file is not JSON. Tindlewave keeps using the last good settings. Fix the file to "
              "change settings here.");

    // A file that could not be made at the first start: there are no last good settings.
    const ConfigSnapshot notMade{std::nullopt, ConfigError{"", "cannot create /c/config.json: Permission denied"}};
    EXPECT_EQ(GeneralTexts::loadDetail(notMade, std::nullopt, time),
              "Has an error: cannot create /c/config.json: Permission denied. Tindlewave has no "
              "settings yet, so it leaves every device as the system has it.");
    EXPECT_EQ(GeneralTexts::configErrorDetail(notMade),
              "cannot create /c/config.json: Permission denied. Tindlewave has no settings yet, so it "
              "leaves every device as the system has it. Fix the file to change settings here.");
}

TEST(GeneralTexts, UpdatesDetailNamesTheHostAndTheLastCheck) {
    const Date now{seconds{1'000'000}};
    EXPECT_EQ(GeneralTexts::updatesDetail("0.1.0", false, "x", std::nullopt, now),
              "You have version 0.1.0. Tindlewave checks only when you ask.");
    EXPECT_EQ(GeneralTexts::updatesDetail("unknown", true, "updates.example.org", now - hours{24}, now),
              "You have version unknown. Once a day Tindlewave asks updates.example.org for the latest "
              "version, and sends nothing else. Last checked yesterday.");
    EXPECT_EQ(GeneralTexts::hostOf("https://user@updates.example.org:8443/feed.xml?x=1"),
              "updates.example.org:8443");
    EXPECT_EQ(GeneralTexts::hostOf("updates.example.org"), "updates.example.org");
    // A feed in a file asks no host.
    for (const char* file : {"file:///srv/feed.json", "FILE://localhost/srv/feed.json"}) {
        EXPECT_EQ(GeneralTexts::hostOf(file), "") << file;
        EXPECT_EQ(GeneralTexts::updatesDetail("0.1.0", true, GeneralTexts::hostOf(file), std::nullopt, now),
                  "You have version 0.1.0. Once a day Tindlewave reads its update feed for the latest version, "
                  "and sends nothing.");
    }
}

TEST(GeneralTexts, PermissionRowsAndTheHowTo) {
    using Grant = PermissionState::Grant;
    using Look = GeneralTexts::PermissionRow::Look;
    EXPECT_EQ(GeneralTexts::permissionRow(Grant::granted),
              (GeneralTexts::PermissionRow{"Granted", Look::granted, ""}));
    EXPECT_EQ(GeneralTexts::permissionRow(Grant::denied),
              (GeneralTexts::PermissionRow{"Not allowed", Look::warning, "Allow\u2026"}));
    EXPECT_EQ(GeneralTexts::permissionRow(Grant::notDetermined),
              (GeneralTexts::PermissionRow{"Not asked yet", Look::warning, "Allow\u2026"}));
    EXPECT_FALSE(GeneralTexts::showsHowTo({Grant::granted, Grant::granted}));
    EXPECT_TRUE(GeneralTexts::showsHowTo({Grant::granted, Grant::notDetermined}));
    // A grant with no device to grant it for asks nothing, and says why it is not "Granted"; one
    // held back by a missing module names it, as the terminal and the guide do.
    EXPECT_EQ(GeneralTexts::permissionRow(Grant::granted, GrantCause::noDevice),
              (GeneralTexts::PermissionRow{"No HID++ mouse connected", Look::plain, ""}));
    EXPECT_EQ(GeneralTexts::permissionRow(Grant::denied, GrantCause::moduleMissing),
              (GeneralTexts::PermissionRow{"No uinput module loaded", Look::warning, "Allow\u2026"}));
}

// Over Linux devices nothing points at the other system's settings panes; the configuration's
// words stay, only what is shown changes.
TEST(GeneralTexts, OverLinuxDevicesTheTextsTellWhatToInstall) {
    using Grant = PermissionState::Grant;
    EXPECT_EQ(GeneralTexts::howTo().firstButton, "Open System Settings");
    EXPECT_EQ(RulesValues::actionLabel(Action::system(SystemAction::missionControl)), "Mission Control");
    setWorldTexts(WorldTexts::linuxDevices);
    EXPECT_EQ(GeneralTexts::howTo(),
              (GeneralTexts::HowTo{"Install Tindlewave's device rule (once, as an administrator)",
                                   "Show Commands\u2026",
                                   "Reconnect your mice and keyboards, or log out and back in",
                                   "Check that both say Granted below"}));
    // Plain mice alone leave Input Monitoring nothing to grant: the last step cannot ask for both.
    EXPECT_EQ(GeneralTexts::howTo(GrantCause::noDevice).third, "Check that Accessibility says Granted below");
    // Without the uinput module no rule helps: the first step and the guide's card name it, and
    // the card what loads it now and at every boot.
    EXPECT_EQ(GeneralTexts::howTo(GrantCause::none, GrantCause::moduleMissing).first,
              "Load the uinput module and install Tindlewave's device rule (once, as an administrator)");
    EXPECT_EQ(GeneralTexts::ruleGuideText(false),
              "Install the rule below once (your password is asked), then reconnect the devices. Any "
              "program you run can then read these devices while you are logged in at this computer.");
    EXPECT_EQ(GeneralTexts::ruleGuideText(true),
              "The uinput module is not loaded. The commands below load it (sudo modprobe uinput, and "
              "/etc/modules-load.d/uinput.conf for the next boots) and install the rule once (your password "
              "is asked); then reconnect the devices. Any program you run can then read these devices while "
              "you are logged in at this computer.");
    EXPECT_EQ(GeneralTexts::permissionRow(Grant::granted),
              (GeneralTexts::PermissionRow{"Granted", GeneralTexts::PermissionRow::Look::granted, ""}));
    EXPECT_EQ(GeneralTexts::permissionRow(Grant::denied).button, "Allow\u2026");
    EXPECT_EQ(RulesValues::actionLabel(Action::system(SystemAction::missionControl)), "Overview");
    EXPECT_EQ(RulesValues::actionLabel(Action::system(SystemAction::appExpose)), "Windows of the App");
    EXPECT_EQ(RulesValues::actionLabel(Action::system(SystemAction::spaceLeft)), "Workspace to the left");
    EXPECT_EQ(RulesValues::actionLabel(Action::system(SystemAction::spaceRight)), "Workspace to the right");
    setWorldTexts(WorldTexts::simulated);

}

TEST(GeneralTexts, AStartOverDevicesSaysWhatMendsEachProblem) {
    EXPECT_TRUE(NodePermissionGrants::remedyTexts({}, GeneralTexts::remediesWhere).empty());
    // A missing uinput node needs its module: installing the rule would not bring it.
    EXPECT_EQ(NodePermissionGrants::remedyTexts({.loadUinput = true}, GeneralTexts::remediesWhere),
              std::vector<std::string>{"load the uinput module: sudo modprobe uinput (and for the next boots: echo "
                                       "uinput | sudo tee /etc/modules-load.d/uinput.conf)"});
    EXPECT_EQ(NodePermissionGrants::remedyTexts({.installRule = true, .installKeyboardRule = true},
                                                 GeneralTexts::remediesWhere),
              (std::vector<std::string>{
                  "install the device rule: General page, \"Show Commands\u2026\", or README, \"Using it with real devices\"",
                  "the hyper key and key routes need the keyboards' rule too: General page, \"Show Commands\u2026\", or "
                  "README, \"Using it with real devices\""}));
}

TEST(GeneralTexts, AbbreviatesTheHomeFolderOnlyAsAWholeFolder) {
    EXPECT_EQ(GeneralTexts::abbreviatedPath("/home/ann/.config/tindlewave/config.json", "/home/ann"),
              "~/.config/tindlewave/config.json");
    EXPECT_EQ(GeneralTexts::abbreviatedPath("/home/anna/x.json", "/home/ann/"), "/home/anna/x.json");
    EXPECT_EQ(GeneralTexts::abbreviatedPath("/etc/x.json", "/"), "/etc/x.json");
}

}  // namespace
}  // namespace tindlewave

#include "Settings/Model/Devices/DeviceControlTexts.h"

namespace tindlewave {
namespace {

TEST(DeviceControlTexts, SetUpTitlesByPresetAndNewMiceMarked) {
    EXPECT_EQ(setUpButtonTitle(ProfileSource::preset(DevicePreset::mxMaster3)), "Set Up as MX Master 3");
    EXPECT_EQ(setUpButtonTitle(ProfileSource::preset(DevicePreset::mouse24G)), "Set Up as 2.4G Mouse");
    EXPECT_EQ(setUpButtonTitle(ProfileSource::preset(DevicePreset::keyboard)), "Set Up with Hyper Key");
    EXPECT_EQ(setUpButtonTitle(ProfileSource::blank()), "Set Up");
    EXPECT_EQ(setUpButtonTitle(ProfileSource::copy(DeviceMatch::builtIn())), "Set Up");
    SettingsDevice mouse{.match = DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023}), .name = "Desk"};
    EXPECT_EQ(mousePopupLabel(mouse), "Desk (New)");
    mouse.profile = DeviceProfile{};
    EXPECT_EQ(mousePopupLabel(mouse), "Desk");
}

}  // namespace
}  // namespace tindlewave
