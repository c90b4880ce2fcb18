// The headless program as a user runs it: its own home and XDG folders, a settings file with a
// HID++ click rule, commands on standard input.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "TestKit/HeadlessProcess.h"
#include "TestKit/TempFolder.h"

namespace tindlewave {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testkit::Headless;


// The settings file with a profile for the recorded mouse holding `rules` (and `more` after it).
std::string settings(const std::string& rules, const std::string& more = "") {
    return R"({
  "devices" : [
    {
      "match" : { "product" : "0xB023", "vendor" : "0x046D" },
      "name" : "MX Master 3",
      "rules" : [ )" +
           rules + R"( ]
    })" + more + R"(
  ],
  "hyper" : { "enabled" : true, "key" : "capsLock", "onTap" : "nothing" },
  "ignored" : [ ],
  "version" : 1
}
)";
}

const std::string clickOnC4 =
    R"({ "control" : { "hidpp" : "0xC4" }, "do" : { "shortcut" : "shift+cmd+4" }, "when" : "click" })";
const std::string clickOnC3 =
    R"({ "control" : { "hidpp" : "0xC3" }, "do" : { "shortcut" : "shift+cmd+4" }, "when" : "click" })";

void writeSettings(Headless& headless, const std::string& text) {
    const fs::path config = headless.home.path() / ".config" / "tindlewave" / "config.json";
    fs::create_directories(config.parent_path());
    testkit::TempFolder::write(config.string(), text);
}

TEST(Headless, AClickRuleOnTheRecordedMousePostsItsShortcutAndTheQuitPutsTheMouseBack) {
    Headless headless;
    writeSettings(headless, settings(clickOnC4));
    headless.start({});
    headless.send("wait applied 20");
    ASSERT_TRUE(headless.waitFor("\napplied\n")) << headless.seen;
    headless.send("mouse 1");
    ASSERT_TRUE(headless.waitFor("0xC4 diverted")) << headless.seen;
    headless.send("press 0xC4");
    headless.send("release 0xC4");
    // The shortcut: the key 4 (code 21) with Shift and Command, posted at the HID level, its
    // modifiers named beside its flags as this world names them.
    ASSERT_TRUE(headless.waitFor("posted (hid): key 21 up")) << headless.seen;
    const auto down = headless.at("posted (hid): key 21 down flags ");
    ASSERT_NE(down, std::string::npos) << headless.seen;
    const std::string line = headless.seen.substr(down, headless.seen.find('\n', down) - down);
    EXPECT_TRUE(line.ends_with(" (\u21E7\u2318)")) << line;
    headless.send("quit");
    ASSERT_TRUE(headless.waitFor("at exit, event system")) << headless.seen;
    EXPECT_NE(headless.seen.find("at exit, device 1 (MX Master 3 Wireless Mouse): native"),
              std::string::npos)
        << headless.seen;
    EXPECT_NE(headless.seen.find("at exit, event system: 0 taps"),
              std::string::npos)
        << headless.seen;
    const int status = headless.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;
}

TEST(Headless, SIGINTQuitsLikeTheQuitCommand) {
    Headless headless;
    headless.start({"--no-keyboard"});
    headless.send("wait applied 20");
    ASSERT_TRUE(headless.waitFor("\napplied\n")) << headless.seen;
    ::kill(headless.pid, SIGINT);
    ASSERT_TRUE(headless.waitFor("at exit, device 1")) << headless.seen;
    EXPECT_NE(headless.seen.find("quitting (received SIGINT)"), std::string::npos) << headless.seen;
    const int status = headless.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;
}

// --mouse and "attach mouse" also take a shipped recording by its file name, from any folder.
TEST(Headless, AShippedRecordingIsFoundByItsFileName) {
    Headless headless;
    headless.start({"--no-keyboard", "--mouse", "MX-Anywhere-3-B025.json"});
    ASSERT_TRUE(headless.waitFor("(HID++ mouse 0x046D:0xB025)")) << headless.seen;
    headless.send("attach mouse MX-Vertical-Wireless-Mouse-B020");
    ASSERT_TRUE(headless.waitFor("(HID++ mouse 0x046D:0xB020)")) << headless.seen;
    headless.send("attach mouse No-Such-Mouse.json");
    ASSERT_TRUE(headless.waitFor("cannot attach the mouse")) << headless.seen;
    headless.send("quit");
    const int status = headless.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;
}

// A mouse or a script asked for at start that cannot be read ends the program with the path and
// the reason, before anything starts (a FIFO is refused, not waited on); "attach mouse" with one
// only says so.
TEST(Headless, AMouseOrScriptOptionThatCannotBeReadEndsWithAnError) {
    for (const std::string given : {"missing.json", "No-Such-Mouse"}) {
        Headless headless;
        const std::string path = given == "missing.json" ? headless.home / given : given;
        headless.start({"--no-keyboard", "--mouse", path});
        const int status = headless.exitStatus();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << headless.seen;
        EXPECT_NE(headless.at("tindlewave-headless: cannot attach the mouse: " + path +
                              ": No such file or directory"),
                  std::string::npos)
            << headless.seen;
        EXPECT_EQ(headless.at("settings file:"), std::string::npos) << headless.seen;
    }
    for (const std::string given : {"missing", "fifo"}) {
        Headless headless;
        const std::string path = headless.home / given;
        if (given == "fifo") {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        }
        headless.start({"--no-keyboard", "--script", path});
        const int status = headless.exitStatus();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << headless.seen;
        EXPECT_NE(headless.at("tindlewave-headless: cannot read the script " + path + ": " +
                              (given == "fifo" ? "not a regular file" : "No such file or directory")),
                  std::string::npos)
            << headless.seen;
        EXPECT_EQ(headless.at("settings file:"), std::string::npos) << headless.seen;
    }
}

// Over this machine's devices (none here, or none it may use) the program runs, says why, refuses
// what only simulated devices can do, and quits cleanly; the simulated-only options are refused.
TEST(Headless, OverTheRealDevicesItRunsAndSaysWhatIsMissing) {
    Headless headless;
    headless.simulate = false;
    headless.start({});
    ASSERT_TRUE(headless.waitFor("devices: this computer's mice and keyboards")) << headless.seen;
    headless.send("press 0xC3");
    ASSERT_TRUE(headless.waitFor("this command acts on simulated devices: start with --simulate"))
        << headless.seen;
    headless.send("status");
    headless.send("quit");
    ASSERT_TRUE(headless.waitFor("at exit, event system: 0 nodes grabbed")) << headless.seen;
    EXPECT_NE(headless.seen.find("\nstatus: "), std::string::npos) << headless.seen;
    const int status = headless.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;

    Headless refused;
    refused.simulate = false;
    refused.start({"--no-keyboard"});
    refused.waitFor("never printed", std::chrono::seconds(5));
    EXPECT_NE(refused.seen.find("--no-keyboard needs --simulate"), std::string::npos) << refused.seen;
    const int refusedStatus = refused.exitStatus();
    EXPECT_TRUE(WIFEXITED(refusedStatus) && WEXITSTATUS(refusedStatus) == 2) << refused.seen;
}

// Over this computer's devices one program of a user runs at a time: a second one says which
// runs and ends, a simulated one runs beside it, and a killed program's lock does not stand in the
// way of the next.
TEST(Headless, OverTheRealDevicesOneProgramRunsAtATime) {
    Headless first;
    first.simulate = false;
    first.start({});
    ASSERT_TRUE(first.waitFor("devices: this computer's mice and keyboards")) << first.seen;

    Headless second;
    second.simulate = false;
    second.homeOf = first.home.path();
    second.start({});
    const int secondStatus = second.exitStatus();
    EXPECT_TRUE(WIFEXITED(secondStatus) && WEXITSTATUS(secondStatus) == 1) << second.seen;
    EXPECT_NE(second.seen.find("runs already over this computer's devices (process " +
                               std::to_string(first.pid) + ")"),
              std::string::npos)
        << second.seen;
    EXPECT_EQ(second.seen.find("devices:"), std::string::npos) << second.seen;

    Headless simulated;
    simulated.homeOf = first.home.path();
    simulated.start({});
    simulated.send("quit");
    const int simulatedStatus = simulated.exitStatus();
    EXPECT_TRUE(WIFEXITED(simulatedStatus) && WEXITSTATUS(simulatedStatus) == 0) << simulated.seen;

    ::kill(first.pid, SIGKILL);
    first.exitStatus();
    Headless next;
    next.simulate = false;
    next.homeOf = first.home.path();
    next.start({});
    ASSERT_TRUE(next.waitFor("devices: this computer's mice and keyboards")) << next.seen;
    next.send("quit");
    const int nextStatus = next.exitStatus();
    EXPECT_TRUE(WIFEXITED(nextStatus) && WEXITSTATUS(nextStatus) == 0) << next.seen;
}

// The README's short session, all of it at once: every command takes effect before the next one
// runs, so the shortcut is posted and the mouse reported before the quit, every time.
TEST(Headless, CommandsGivenAtOnceTakeEffectInTheirOrder) {
    const std::string session = "wait applied\nmouse 1\npress 0xC4\nrelease 0xC4\nquit\n";
    for (const bool script : {false, true}) {
        for (int run = 0; run < 3; ++run) {
            Headless headless;
            writeSettings(headless, settings(clickOnC4));
            const fs::path file = headless.home.path() / "session.txt";
            testkit::TempFolder::write(file.string(), session);
            headless.start(script ? std::vector<std::string>{"--script", file.string()}
                                  : std::vector<std::string>{});
            if (!script) headless.send(session);
            headless.endInput();
            ASSERT_TRUE(headless.waitFor("at exit, event system")) << headless.seen;
            const auto quitting = headless.at("quitting (asked to quit)");
            ASSERT_NE(quitting, std::string::npos) << headless.seen;
            EXPECT_LT(headless.at("mouse 1: "), quitting) << headless.seen;
            EXPECT_LT(headless.at("posted (hid): key 21 down"), quitting) << headless.seen;
            EXPECT_LT(headless.at("posted (hid): key 21 up"), quitting) << headless.seen;
            const int status = headless.exitStatus();
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;
        }
    }
}

// A save followed at once by "wait applied": the wait ends only once the saved rules are in force.
TEST(Headless, WaitAppliedAfterASaveWaitsForTheSavedConfiguration) {
    Headless headless;
    writeSettings(headless, settings(clickOnC4));
    headless.start({"--no-keyboard"});
    headless.send("wait applied 20");
    ASSERT_TRUE(headless.waitFor("\napplied\n")) << headless.seen;
    writeSettings(headless, settings(clickOnC3));
    headless.send("wait applied 20");
    headless.send("mouse 1");
    ASSERT_TRUE(headless.waitFor("mouse 1: ")) << headless.seen;
    ASSERT_TRUE(headless.waitFor("\n", 5s));
    const std::string mouse = headless.seen.substr(headless.at("mouse 1: "));
    const std::string line = mouse.substr(0, mouse.find('\n'));
    EXPECT_NE(line.find("0xC3 diverted"), std::string::npos) << headless.seen;
    EXPECT_NE(line.find("0xC4 native"), std::string::npos) << headless.seen;
}

// A settings file with an error is never in force: "wait applied" answers with the error as soon
// as the status names it, at launch, after a save and with the file gone, never after its whole
// time (ten minutes here, far past the test's own limits).
TEST(Headless, WaitAppliedWithASettingsFileInErrorAnswersWithTheErrorAtOnce) {
    Headless headless;
    writeSettings(headless, "{ \"version\": ");
    headless.start({"--no-keyboard"});
    headless.send("wait applied 600");
    ASSERT_TRUE(headless.waitFor("\nnot applied: configuration error: ")) << headless.seen;

    writeSettings(headless, settings(clickOnC4));
    headless.send("wait applied 600");
    ASSERT_TRUE(headless.waitFor("\napplied\n")) << headless.seen;
    writeSettings(headless, settings(clickOnC4 + ", 3"));
    headless.send("wait applied 600");
    headless.send("status");
    ASSERT_TRUE(headless.waitForAfter("\napplied\n", "\nnot applied: configuration error: ")) << headless.seen;
    ASSERT_TRUE(headless.waitForAfter("\napplied\n", "\nstatus: ")) << headless.seen;
    // The answer is the error the status line names.
    const std::string lead = "\nnot applied: configuration error: ";
    const auto answered = headless.seen.find(lead, headless.at("\napplied\n")) + lead.size();
    const std::string error = headless.seen.substr(answered, headless.seen.find('\n', answered) - answered);
    EXPECT_NE(error.find("rules[1]"), std::string::npos) << headless.seen;
    EXPECT_NE(headless.seen.find(", configuration error: " + error, headless.at("\napplied\n")), std::string::npos)
        << headless.seen;

    fs::remove(headless.home.path() / ".config" / "tindlewave" / "config.json");
    headless.send("wait applied 600");
    ASSERT_TRUE(headless.waitFor("\nnot applied: configuration error: cannot read the file: No such file or directory\n"))
        << headless.seen;
    headless.send("quit");
    const int exit = headless.exitStatus();
    EXPECT_TRUE(WIFEXITED(exit) && WEXITSTATUS(exit) == 0) << headless.seen;
    EXPECT_EQ(headless.seen.find("not applied in time"), std::string::npos) << headless.seen;
}

// A settings folder the program may not write into at the first start (another user's, which
// binds root too, or one without write access): "wait applied" answers with why the file could
// not be made, its path and the system's words, not with a missing file.
TEST(Headless, WaitAppliedAtAFirstStartWhoseFileCannotBeMadeAnswersWhy) {
    Headless headless;
    const fs::path folder = headless.home.path() / ".config" / "tindlewave";
    fs::create_directories(folder);
    ASSERT_EQ(::geteuid() == 0 ? ::chown(folder.c_str(), 65534, 65534) : ::chmod(folder.c_str(), 0555), 0);
    headless.start({"--no-keyboard"});
    headless.send("wait applied 600");
    ASSERT_TRUE(headless.waitFor("\nnot applied: configuration error: cannot create " +
                                 (folder / "config.json").string() + ": "))
        << headless.seen;
    headless.send("quit");
    const int exit = headless.exitStatus();
    EXPECT_TRUE(WIFEXITED(exit) && WEXITSTATUS(exit) == 0) << headless.seen;
    if (::geteuid() != 0) fs::permissions(folder, fs::perms::owner_all);
}

// A keyboard with the hyper key counts as set up only once its key map is written and the tap
// that reads the hyper key is on; the stand-in hidutil's fault switches hold it back. Its keys go
// through its key map and then the tap, as a keyboard's do: Caps Lock holds the four modifiers.
TEST(Headless, WaitAppliedWaitsForTheHyperKeyboardAndHidutilFaultsHoldItBack) {
    Headless headless;
    writeSettings(headless, settings(clickOnC4, R"(,
    { "hyper" : true, "kind" : "keyboard", "match" : { "builtIn" : true }, "name" : "Laptop" })"));
    headless.start({});
    headless.send("wait applied 20");
    headless.send("status");
    ASSERT_TRUE(headless.waitFor("\napplied\n")) << headless.seen;
    ASSERT_TRUE(headless.waitFor("Laptop (connected, hyper on)")) << headless.seen;
    EXPECT_TRUE(headless.waitForAfter("\napplied\n", "tap on")) << headless.seen;
    headless.send("key capslock down");
    headless.send("key f13 down");  // help's example
    headless.send("key capslock up");
    ASSERT_TRUE(headless.waitFor("received: flags changed to 0x0\n")) << headless.seen;
    EXPECT_NE(headless.at("received: flags changed to 0x1E0000 (⌃⌥⇧⌘)\nreceived: key 105 down"),
              std::string::npos) << headless.seen;

    headless.send("hidutil fail");
    headless.send("reapply");
    headless.send("wait applied 1");
    ASSERT_TRUE(headless.waitFor("not applied in time")) << headless.seen;
    // What hidutil printed, in the status line as one line.
    EXPECT_NE(headless.at("hyper failed: hidutil exited 1: hidutil: failed on purpose)"), std::string::npos)
        << headless.seen;
    headless.send("hidutil clear");
    headless.send("reapply");
    headless.send("wait applied 20");
    headless.send("quit");
    ASSERT_TRUE(headless.waitFor("at exit, event system")) << headless.seen;
    const std::string after = headless.seen.substr(headless.at("not applied in time"));
    EXPECT_NE(after.find("\napplied\n"), std::string::npos) << headless.seen;
    EXPECT_NE(after.find("key map empty"), std::string::npos) << headless.seen;
}

// The mouse's fault switches reach it: while it refuses every set-reporting request nothing can
// be set up; cleared, the next apply succeeds.
TEST(Headless, MouseFaultsHoldTheSetUpBackUntilCleared) {
    Headless headless;
    writeSettings(headless, settings(clickOnC4));
    headless.start({"--no-keyboard"});
    headless.send("wait applied 20");
    headless.send("fault refuse 1000");
    headless.send("reapply");
    headless.send("wait applied 1");
    ASSERT_TRUE(headless.waitFor("not applied in time")) << headless.seen;
    EXPECT_NE(headless.at("device 1: refuses 1000 replies"), std::string::npos) << headless.seen;
    headless.send("fault clear");
    headless.send("reapply");
    headless.send("wait applied 20");
    headless.send("quit");
    ASSERT_TRUE(headless.waitFor("at exit, event system")) << headless.seen;
    const std::string after = headless.seen.substr(headless.at("not applied in time"));
    EXPECT_NE(after.find("\napplied\n"), std::string::npos) << headless.seen;
}

// A rule on a control the mouse lacks is skipped, and the set-up is applied once: found only
// when discovery ends, it changes nothing the mouse is told.
TEST(Headless, ARuleOnAControlTheMouseLacksIsSkippedAndTheSetUpAppliedOnce) {
    Headless headless;
    const std::string onAbsent =
        R"({ "control" : { "hidpp" : "0x99" }, "do" : { "shortcut" : "shift+cmd+4" }, "when" : "click" })";
    writeSettings(headless, settings(clickOnC4 + ", " + onAbsent));
    headless.start({"--no-keyboard"});
    headless.send("wait applied 20");
    headless.send("status");
    headless.send("quit");
    ASSERT_TRUE(headless.waitFor("at exit, event system")) << headless.seen;
    EXPECT_NE(headless.at("MX Master 3 (connected, HID++ set up, 1 rules skipped)"), std::string::npos)
        << headless.seen;
    const std::string applied = "reasons=launch attempt=1 applied";
    const auto first = headless.at(applied);
    ASSERT_NE(first, std::string::npos) << headless.seen;
    EXPECT_EQ(headless.seen.find(applied, first + 1), std::string::npos) << headless.seen;
}

// A smooth scroll's frames make one line with their count and the points moved.
TEST(Headless, ASmoothScrollIsOneLineWithItsFramesAndPoints) {
    Headless headless;
    const std::string smooth = R"(,
      "scrolling" : { "smooth" : { "brake" : 2, "curve" : [
          { "pointsPerSecond" : 40, "stepsPerSecond" : 1 },
          { "pointsPerSecond" : 9000, "stepsPerSecond" : 120 } ],
        "duration" : 4, "easeIn" : 60 } })";
    std::string text = settings(clickOnC4);
    text.insert(text.find("\"rules\""), std::string(smooth.begin() + 1, smooth.end()) + ",\n      ");
    writeSettings(headless, text);
    headless.start({"--no-keyboard"});
    headless.send("wait applied 20");
    headless.send("wheel 3");
    headless.send("help");
    ASSERT_TRUE(headless.waitFor("Commands (")) << headless.seen;
    const auto burst = headless.at("posted (session): scroll of ");
    ASSERT_NE(burst, std::string::npos) << headless.seen;
    EXPECT_LT(burst, headless.at("Commands (")) << "printed before the next command runs\n"
                                                << headless.seen;
    EXPECT_EQ(headless.seen.find("posted (session): scroll", burst + 1), std::string::npos)
        << "one line for the whole burst\n" << headless.seen;
    EXPECT_NE(headless.seen.find(" 120 0 points", burst), std::string::npos) << headless.seen;
}

// What a user types, and what the settings file and the recordings hold, cannot make a line
// of its own or reach an undefined conversion; unreadable files are refused, not waited on.
TEST(Headless, HostileInputIsRefusedAndNamesCannotForgeLines) {
    Headless headless;
    writeSettings(headless, settings(clickOnC4));
    const fs::path fifo = headless.home.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    headless.start({"--no-keyboard"});
    headless.send("drag 1e308 0");
    headless.send("wheel 2147483647");
    headless.send("attach mouse /dev/zero");
    headless.send("attach mouse " + fifo.string());
    headless.send("quit");
    ASSERT_TRUE(headless.waitFor("at exit, event system")) << headless.seen;
    EXPECT_NE(headless.at("cannot read \"drag 1e308 0\""), std::string::npos) << headless.seen;
    EXPECT_NE(headless.at("cannot read \"wheel 2147483647\""), std::string::npos) << headless.seen;
    EXPECT_NE(headless.at("cannot attach the mouse: /dev/zero: not a regular file"),
              std::string::npos) << headless.seen;
    EXPECT_NE(headless.at("cannot attach the mouse: " + fifo.string() + ": not a regular file"),
              std::string::npos) << headless.seen;
}

// Names come from the settings file and from recordings: a line break in one is written escaped,
// in the program's lines and in the log lines mirrored beside them.
TEST(Headless, ANameWithALineBreakStaysOnItsLine) {
    Headless headless;
    writeSettings(headless, settings(clickOnC4).replace(
        settings(clickOnC4).find("MX Master 3"), 11, "MX\\nstatus: forged"));
    std::string recording =
        testkit::TempFolder::read(TW_DATA_ROOT "/devices/MX-Master-3-Wireless-Mouse-B023.json");
    const std::string name = "\"MX Master 3 Wireless Mouse\"";
    recording.replace(recording.find(name), name.size(), "\"Other\\ndevice 9: forged\"");
    const fs::path other = headless.home.path() / "other.json";
    testkit::TempFolder::write(other.string(), recording);
    headless.start({"--no-keyboard", "--mouse", other.string()});
    headless.send("wait applied 20");
    headless.send("status");
    headless.send("devices");
    headless.send("quit");
    ASSERT_TRUE(headless.waitFor("at exit, event system")) << headless.seen;
    EXPECT_NE(headless.at("MX\\nstatus: forged"), std::string::npos) << headless.seen;
    EXPECT_NE(headless.at("Other\\ndevice 9: forged"), std::string::npos) << headless.seen;
    EXPECT_EQ(headless.at("\nstatus: forged"), std::string::npos) << headless.seen;
    EXPECT_EQ(headless.at("\ndevice 9: forged"), std::string::npos) << headless.seen;
}

// A recording of a mouse paired to a receiver attaches as a mouse at its slot, where it is set up
// and its rules fire as a mouse attached directly.
TEST(Headless, ARecordingOfAPairedMouseAttachesAtItsReceiverSlot) {
    Headless headless;
    writeSettings(headless, settings(clickOnC4));
    std::string recording =
        testkit::TempFolder::read(TW_DATA_ROOT "/devices/MX-Master-3-Wireless-Mouse-B023.json");
    const std::string connection = "\"connection\": \"bluetooth\"";
    ASSERT_NE(recording.find(connection), std::string::npos);
    recording.replace(recording.find(connection), connection.size(),
                      "\"connection\": \"receiver\", \"deviceIndex\": 2");
    const fs::path paired = headless.home.path() / "paired.json";
    testkit::TempFolder::write(paired.string(), recording);
    headless.start({"--no-keyboard", "--mouse", paired.string()});
    ASSERT_TRUE(headless.waitFor("device 1: MX Master 3 Wireless Mouse (HID++ mouse 0x046D:0xB023 at receiver slot 2)"))
        << headless.seen;
    headless.send("wait applied 20");
    headless.send("mouse 1");
    headless.send("press 0xC4");
    headless.send("release 0xC4");
    headless.send("quit");
    ASSERT_TRUE(headless.waitFor("at exit, event system")) << headless.seen;
    EXPECT_NE(headless.at("\napplied\n"), std::string::npos) << headless.seen;
    EXPECT_NE(headless.at("0xC4 diverted"), std::string::npos) << headless.seen;
    EXPECT_NE(headless.at("posted (hid): key 21 up"), std::string::npos) << headless.seen;
    EXPECT_NE(headless.at("at exit, device 1 (MX Master 3 Wireless Mouse): native"), std::string::npos)
        << headless.seen;
}

// A line over the line-length limit, on standard input or in a script, is refused by its number
// and the limit, without holding its text; the lines after it run.
TEST(Headless, ALineOverTheLengthLimitIsRefusedAndTheNextLinesRun) {
    Headless headless;
    const fs::path script = headless.home.path() / "script.txt";
    testkit::TempFolder::write(script.string(), "help\n" + std::string(100 * 1024, 'y') + "\nstatus\n");
    headless.start({"--no-keyboard", "--script", script.string()});
    headless.send(std::string(64 * 1024 * 1024, 'x'), 60s);
    headless.send("devices");
    headless.send("quit");
    ASSERT_TRUE(headless.waitFor("at exit, event system", 60s)) << headless.seen.substr(0, 4096);
    const auto inScript =
        headless.at("the script, line 2: longer than the line-length limit of 65536 bytes, not run");
    const auto onInput =
        headless.at("standard input, line 1: longer than the line-length limit of 65536 bytes, not run");
    ASSERT_NE(inScript, std::string::npos) << headless.seen.substr(0, 4096);
    ASSERT_NE(onInput, std::string::npos) << headless.seen.substr(0, 4096);
    EXPECT_LT(headless.at("Commands ("), inScript);
    EXPECT_NE(headless.seen.find("\nstatus: ", inScript), std::string::npos);
    EXPECT_NE(headless.seen.find("device 1: MX Master 3 Wireless Mouse (HID++ mouse, ", onInput),
              std::string::npos) << headless.seen.substr(0, 4096);
    EXPECT_EQ(headless.at("xxxx"), std::string::npos) << "the line's text is not kept";
    EXPECT_LT(headless.seen.size(), 64u * 1024);
    const int status = headless.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;
}

// Commands given faster than they run wait in the pipe: while a wait holds them, the program
// stops reading once a few hundred lines are queued.
TEST(Headless, InputGivenFasterThanItRunsWaitsInThePipe) {
    Headless headless;
    writeSettings(headless, settings(clickOnC4));
    headless.start({"--no-keyboard"});
    headless.send("wait applied 20");
    ASSERT_TRUE(headless.waitFor("\napplied\n")) << headless.seen;
    headless.send("fault refuse 1000");
    headless.send("reapply");
    headless.send("wait applied 600");
    ASSERT_TRUE(headless.waitFor("device 1: refuses")) << headless.seen;
    std::string filler;
    while (filler.size() < 16 * 1024 * 1024) filler += "# a comment line\n";
    // Each time the pipe is full the program has two seconds to take more; it takes none once
    // its queue is full.
    const std::size_t written = headless.write(filler, std::chrono::milliseconds(2000));
    EXPECT_LT(written, 2u * 1024 * 1024) << "read without a limit";
    ::kill(headless.pid, SIGINT);
    ASSERT_TRUE(headless.waitFor("at exit, device 1")) << headless.seen;
    const int status = headless.exitStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << headless.seen;
}

// On this machine (no hidraw or input devices, no udev daemon) the check finds nothing, says why,
// and does not claim success.
TEST(Headless, CheckDevicesSaysWhatItFoundAndEnds) {
    Headless headless;
    headless.simulate = false;
    headless.start({"--check-devices"});
    const int status = headless.exitStatus();
    EXPECT_TRUE(WIFEXITED(status)) << headless.seen;
    EXPECT_NE(headless.seen.find("Tindlewave device check"), std::string::npos) << headless.seen;
    EXPECT_NE(headless.seen.find("HID interfaces (hidraw):"), std::string::npos) << headless.seen;
    EXPECT_NE(headless.seen.find("Input event nodes:"), std::string::npos) << headless.seen;
    if (headless.seen.find("HID++ mice answered") == std::string::npos) {
        EXPECT_NE(headless.seen.find("No HID++ mouse was found"), std::string::npos) << headless.seen;
        EXPECT_EQ(WEXITSTATUS(status), 1) << headless.seen;
    }
}

}  // namespace
}  // namespace tindlewave
