// The screenshot mode as a user runs it: `tindlewave -snapshotSettings DIR`, offscreen on a
// 1440×900 screen at scale 2.

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <set>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unordered_map>

#include "ProgramRun.h"

namespace tindlewave {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Picture {
    int width = 0, height = 0;
    double commonest = 1;  // the share of the most common colour
    std::size_t colours = 0;
    double brightness = 0;  // average, 0 to 255
};

Picture look(const fs::path& path) {
    QImage image(QString::fromStdString(path.string()));
    Picture picture;
    if (image.isNull()) return picture;
    image = image.convertToFormat(QImage::Format_RGB32);
    picture.width = image.width();
    picture.height = image.height();
    std::unordered_map<QRgb, std::size_t> counts;
    double sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            ++counts[line[x]];
            sum += qGray(line[x]);
        }
    }
    const double pixels = double(image.width()) * image.height();
    std::size_t most = 0;
    for (const auto& [colour, count] : counts) most = std::max(most, count);
    picture.commonest = double(most) / pixels;
    picture.colours = counts.size();
    picture.brightness = sum / pixels;
    return picture;
}

TEST(Snapshot, WritesEveryPageForTheMiceInBothAppearancesAndTheGuideCards) {
    testkit::Program program;
    const fs::path shots = program.home.path() / "shots";
    fs::create_directories(program.configFolder());
    testkit::TempFolder::write(
        (program.configFolder() / "config.json").string(),
        R"({"version":1,"hyper":{"key":"capsLock","onTap":"nothing"},"devices":[)"
        R"({"match":{"vendor":"0x046D","product":"0xB023"},"name":"MX Master 3"},)"
        R"({"match":{"vendor":"0x046D","product":"0xB034"},"name":"../../x"},)"
        R"({"match":{"builtIn":true},"name":"Built-in","kind":"keyboard","hyper":true}],"ignored":[]})");
    const fs::path screen = program.home.path() / "screen.json";
    testkit::TempFolder::write(screen.string(),
                               R"({"screens":[{"name":"shot","x":0,"y":0,"width":1440,"height":900,)"
                               R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":2}]})");
    program.start({"-snapshotSettings", shots.string()}, "offscreen:configfile=" + screen.string());
    // It says when every picture is written, and where.
    ASSERT_TRUE(testkit::eventually(
        [&] {
            return program.log().find("wrote every picture of the settings window to " + shots.string()) !=
                   std::string::npos;
        },
        100s))
        << program.log();

    std::set<std::string> expected;
    for (const char* suffix : {"", "-dark"}) {
        for (const char* name : {"01-general", "01-general-permission-missing", "02-hyper-key",
                                 "03-buttons-mx-master-3", "04-buttons-x", "05-scrolling-mx-master-3",
                                 "06-scrolling-x", "07-devices"})
            expected.insert(std::string(name) + suffix + ".png");
        for (const char* card : {"accessibility", "input-monitoring"})
            expected.insert("permission-guide-" + std::string(card) + suffix + ".png");
    }
    std::set<std::string> written, ends;
    for (const auto& entry : fs::directory_iterator(shots)) {
        std::string name = entry.path().filename().string();
        if (name.ends_with("-end.png"))
            ends.insert(name.substr(0, name.size() - 8) + ".png");
        else
            written.insert(name);
    }
    EXPECT_EQ(written, expected);
    for (const auto& end : ends) EXPECT_TRUE(expected.contains(end)) << end;  // a page scrolled to its end

    for (const auto& name : expected) {
        const Picture picture = look(shots / name);
        if (name.starts_with("permission-guide")) {
            EXPECT_GE(picture.width, 840) << name;  // 420 points at scale 2
        } else {
            EXPECT_GE(picture.width, 1280) << name;
            EXPECT_LE(picture.height, 1800) << name;
        }
        EXPECT_LT(picture.commonest, 0.95) << name;
        EXPECT_GE(picture.colours, 16u) << name;
        const auto dot = name.rfind(".png");
        if (name.find("-dark") == std::string::npos) {
            std::string dark = name.substr(0, dot) + "-dark.png";
            EXPECT_LT(look(shots / dark).brightness, picture.brightness) << dark;
        }
    }

    const int status = program.terminate();
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(program.configFolder()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"config.json"}));
}

}  // namespace
}  // namespace tindlewave
