#include <gtest/gtest.h>

#include "Settings/Model/Window/SnapshotShots.h"

namespace tindlewave {
namespace {

SettingsDevice mouse(std::string name, std::uint16_t product) {
    return {.match = DeviceMatch::device(VendorID{0x046D}, ProductID{product}), .name = std::move(name)};
}

std::vector<std::string> names(const std::vector<SnapshotShot>& shots) {
    std::vector<std::string> list;
    for (std::size_t i = 0; i < shots.size(); ++i)
        list.push_back(SnapshotNames::baseName(int(i) + 1, shots[i].name));
    return list;
}

TEST(SnapshotNames, MouseStemsStayOneFileNameInsideTheFolder) {
    EXPECT_EQ(SnapshotNames::mouseStem("MX Master 3"), "mx-master-3");
    EXPECT_EQ(SnapshotNames::mouseStem("../../x"), "x");
    EXPECT_EQ(SnapshotNames::mouseStem("a/b"), "a-b");
    EXPECT_EQ(SnapshotNames::mouseStem("  Ergo -- M575 (2.4 GHz)  "), "ergo-m575-2-4-ghz");
    EXPECT_EQ(SnapshotNames::mouseStem("..//\\.."), "mouse");
    EXPECT_EQ(SnapshotNames::mouseStem(""), "mouse");
    EXPECT_EQ(SnapshotNames::tabStem(SettingsTab::hyperKey), "hyper-key");
}

TEST(SnapshotNames, TwoMiceAreShotOnTheirPagesInTabOrder) {
    const auto shots = SnapshotNames::shots({mouse("MX Master 3", 0xB023), mouse("MX Master 3", 0xB034)});
    EXPECT_EQ(names(shots), (std::vector<std::string>{"01-general", "02-hyper-key", "03-buttons-mx-master-3",
                                                      "04-buttons-mx-master-3", "05-scrolling-mx-master-3",
                                                      "06-scrolling-mx-master-3", "07-devices"}));
    EXPECT_EQ(shots[2].mouse, DeviceMatch::device(VendorID{0x046D}, ProductID{0xB023}));
    EXPECT_EQ(shots[3].mouse, DeviceMatch::device(VendorID{0x046D}, ProductID{0xB034}));
    EXPECT_EQ(shots[0].mouse, std::nullopt);
    EXPECT_EQ(shots[3].tab, SettingsTab::buttons);
}

TEST(SnapshotNames, WithoutMiceEachPageOnceAndTheDarkSuffixBeforeTheEnd) {
    const auto shots = SnapshotNames::shots({});
    EXPECT_EQ(names(shots), (std::vector<std::string>{"01-general", "02-hyper-key", "03-buttons", "04-scrolling",
                                                      "05-devices"}));
    const auto& dark = SnapshotNames::passes[1];
    EXPECT_TRUE(dark.dark);
    EXPECT_EQ(SnapshotNames::baseName(3, "buttons-mx") + std::string(dark.suffix) +
                  std::string(SnapshotNames::scrolledToEnd) + ".png",
              "03-buttons-mx-dark-end.png");
    EXPECT_EQ(std::string(SnapshotNames::passes[0].suffix), "");
}

}  // namespace
}  // namespace tindlewave
