#include "Platform/Linux/Permissions/DeviceRules.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "TestKit/TempFolder.h"

namespace tindlewave {
namespace {

// The rule lines that grant something, comments and flow lines left out.
std::vector<std::string> ruleGrants(std::string_view text) {
    std::vector<std::string> lines;
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);)
        if (line.find("TAG+=\"uaccess\"") != std::string::npos && !line.starts_with("#")) lines.push_back(line);
    return lines;
}

bool lineHas(const std::string& line, std::string_view part) { return line.find(part) != std::string::npos; }

TEST(DeviceRules, TheBuiltInTextsAreTheShippedFiles) {
    for (const DeviceRule* rule : {&mouseDeviceRule(), &keyboardDeviceRule()}) {
        EXPECT_EQ(rule->text, testkit::TempFolder::read(std::string(TW_DATA_ROOT "/udev/") + std::string(rule->fileName)))
            << rule->fileName;
        EXPECT_TRUE(rule->text.ends_with("\n"));
    }
    // Sorted after the input ids are set and before the seat applies the tags.
    EXPECT_LT(std::string_view("60-input-id.rules"), mouseDeviceRule().fileName);
    EXPECT_LT(keyboardDeviceRule().fileName, std::string_view("73-seat-late.rules"));
}

// The mice's rule gives no keyboard udev can tell from a mouse: no hidraw node for a vendor as a
// whole (a Logitech keyboard's ordinary interfaces carry its keys), hidraw only for Logitech's
// mice by product id or, behind a receiver, where the HID++ driver is bound, and no event node
// that is a keyboard's. (The kernel tier checks it under udevd.)
TEST(DeviceRules, TheMiceRuleGrantsNoKeyboard) {
    const auto lines = ruleGrants(mouseDeviceRule().text);
    ASSERT_EQ(lines.size(), 5u) << mouseDeviceRule().text;
    for (const auto& line : lines) {
        EXPECT_FALSE(lineHas(line, "idVendor")) << line;
        EXPECT_TRUE(lineHas(line, "SUBSYSTEM==") || lineHas(line, "DRIVERS==")) << line;
        if (lineHas(line, "SUBSYSTEM==\"input\"")) {
            EXPECT_TRUE(lineHas(line, "ENV{ID_INPUT_MOUSE}==\"1\"")) << line;
            EXPECT_TRUE(lineHas(line, "ENV{ID_INPUT_KEYBOARD}!=\"1\"")) << line;
        }
    }
    EXPECT_TRUE(lineHas(lines[0], "KERNELS==\"0005:046D:B0??.*\", DRIVERS==\"logitech-hidpp-device|hid-generic\""));
    EXPECT_TRUE(lineHas(lines[1], "KERNELS==\"0003:046D:C0??.*\", DRIVERS==\"logitech-hidpp-device\""));
    // Any device the HID++ driver has bound only behind a receiver, reached by its label alone.
    EXPECT_EQ(lines[2], "DRIVERS==\"logitech-hidpp-device\", TAG+=\"uaccess\"");
    const std::string_view text = mouseDeviceRule().text;
    EXPECT_LT(text.find("LABEL=\"tindlewave_paired\""), text.find("\n" + lines[2]));
    EXPECT_LT(text.find("SUBSYSTEM==\"hidraw\", GOTO=\"tindlewave_hidraw_end\""), text.find("LABEL=\"tindlewave_paired\""));
    EXPECT_TRUE(lineHas(lines[4], "KERNEL==\"uinput\""));

    const auto keyboards = ruleGrants(keyboardDeviceRule().text);
    EXPECT_EQ(keyboards, std::vector<std::string>{
                             "SUBSYSTEM==\"input\", KERNEL==\"event*\", ENV{ID_INPUT_KEYBOARD}==\"1\", TAG+=\"uaccess\""});
    EXPECT_NE(keyboardDeviceRule().text.find("read every key you type"), std::string::npos);
}

// The README shows each rule's whole text inside the commands that install it.
TEST(DeviceRules, TheReadmeInstallsExactlyTheseTexts) {
    const std::string readme = testkit::TempFolder::read(TW_SOURCE_ROOT "/README.md");
    for (const DeviceRule* rule : {&mouseDeviceRule(), &keyboardDeviceRule()}) {
        std::string shown = "    sudo tee /etc/udev/rules.d/" + std::string(rule->fileName) + " > /dev/null <<'END_OF_RULE'\n";
        std::istringstream lines{std::string(rule->text)};
        for (std::string line; std::getline(lines, line);) shown += "    " + line + "\n";
        shown += "    END_OF_RULE\n";
        EXPECT_NE(readme.find(shown), std::string::npos) << rule->fileName;
    }
}

// The commands carry the rules' whole text: run as a shell runs them (with the rules folder a
// temporary one, as root is not at hand), they write exactly the shipped files.
TEST(DeviceRules, TheCommandsWriteExactlyTheShippedRules) {
    const auto run = [](const std::string& commands, const std::string& folder) {
        std::string script;
        std::istringstream lines(commands);
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("sudo udevadm") || line.starts_with("sudo modprobe") || line.starts_with("echo uinput"))
                continue;
            if (line.starts_with("sudo ")) line.erase(0, 5);
            if (line.starts_with("tee "))
                for (auto at = line.find("/etc/udev/rules.d"); at != std::string::npos; at = line.find("/etc/udev/rules.d"))
                line.replace(at, std::strlen("/etc/udev/rules.d"), folder);
            script += line + "\n";
        }
        const std::string path = folder + "/install.sh";
        testkit::TempFolder::write(path, script);
        return std::system(("bash " + path).c_str());
    };
    const auto shipped = [](const char* name) { return testkit::TempFolder::read(std::string(TW_DATA_ROOT "/udev/") + name); };

    testkit::TempFolder mice;
    const auto miceOnly = deviceRuleCommands(true, false);
    ASSERT_EQ(run(miceOnly, mice.path().string()), 0) << miceOnly;
    EXPECT_EQ(testkit::TempFolder::read((mice.path() / "70-tindlewave.rules").string()), shipped("70-tindlewave.rules"));
    EXPECT_FALSE(std::filesystem::exists(mice.path() / "71-tindlewave-keyboards.rules"))
        << "the keyboards' rule only when the configuration uses keyboards";
    EXPECT_EQ(miceOnly.find("sudo cp"), std::string::npos) << "nothing is copied from a folder another process can write";
    EXPECT_EQ(miceOnly.find("modprobe"), std::string::npos);
    EXPECT_TRUE(miceOnly.ends_with("sudo udevadm control --reload\n"
                                   "sudo udevadm trigger --action=change --subsystem-match=hidraw --subsystem-match=input "
                                   "--subsystem-match=misc\n"));

    testkit::TempFolder both;
    const auto withKeyboards = deviceRuleCommands(false, true);
    ASSERT_EQ(run(withKeyboards, both.path().string()), 0) << withKeyboards;
    EXPECT_EQ(testkit::TempFolder::read((both.path() / "70-tindlewave.rules").string()), shipped("70-tindlewave.rules"));
    EXPECT_EQ(testkit::TempFolder::read((both.path() / "71-tindlewave-keyboards.rules").string()),
              shipped("71-tindlewave-keyboards.rules"));
    // The module is loaded before the devices are announced again.
    const auto modprobe = withKeyboards.find("sudo modprobe uinput\necho uinput | sudo tee /etc/modules-load.d/uinput.conf\n");
    ASSERT_NE(modprobe, std::string::npos);
    EXPECT_LT(modprobe, withKeyboards.find("sudo udevadm trigger"));
}

}  // namespace
}  // namespace tindlewave
