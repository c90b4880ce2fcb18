// The program as a user starts it: offscreen, with its own home and XDG folders.

#include <fcntl.h>
#include <pwd.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "ProgramRun.h"
#include "TestKit/VirtualDisplay.h"

namespace tindlewave {
namespace {

namespace fs = std::filesystem;
using testkit::eventually;
using testkit::Program;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The device check opens no window: with a display platform that cannot start (xcb without a
// display) it still runs and ends, having touched no settings.
TEST(Program, CheckDevicesRunsWithoutAWindowAndEnds) {
    Program program;
    program.start({"--check-devices"}, "xcb");
    int status = 0;
    ASSERT_TRUE(eventually([&] { return ::waitpid(program.pid, &status, WNOHANG) == program.pid; }));
    program.pid = -1;
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_LE(WEXITSTATUS(status), 1);  // 1 here: no HID++ mouse answered
    EXPECT_FALSE(fs::exists(program.configFolder()));
}

TEST(Program, StartsMakesTheConfigFileAndQuitsCleanlyOnSigterm) {
    Program program;
    program.start();
    ASSERT_TRUE(eventually([&] { return fs::exists(program.configFolder() / "config.json"); }));
    // Offscreen there is no tray: the settings window carries the menu.
    ASSERT_TRUE(eventually([&] { return contains(program.log(), "no system tray"); }))
        << program.log();
    ASSERT_TRUE(eventually([&] { return contains(program.log(), "\"message\":\"state="); }))
        << program.log();
    const int status = program.terminate();
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(contains(program.log(), "\"message\":\"quit\"")) << program.log();
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(program.configFolder()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"config.json"}));
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t found = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
    return found;
}

// A terminal for the program's standard error, and what the program writes there, read all the
// time so that it never waits on a full terminal.
class Terminal {
  public:
    Terminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
        reader_ = std::thread([this] {
            char chunk[4096];
            for (;;) {
                const auto got = ::read(master_, chunk, sizeof chunk);
                if (got < 0 && errno == EINTR) continue;
                if (got <= 0) break;  // every end of the terminal is closed
                std::lock_guard lock(mutex_);
                text_.append(chunk, static_cast<std::size_t>(got));
            }
        });
    }
    ~Terminal() {
        closeOwnEnd();
        if (reader_.joinable()) reader_.join();
        if (master_ >= 0) ::close(master_);
    }
    int end() const { return slave_; }
    // Once the program has it: the terminal then closes when the program ends.
    void closeOwnEnd() {
        if (slave_ >= 0) ::close(slave_);
        slave_ = -1;
    }
    std::string text() {
        std::lock_guard lock(mutex_);
        return text_;
    }
    // All the program wrote, once it has ended.
    std::string textAtTheEnd() {
        if (reader_.joinable()) reader_.join();
        return text();
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::string text_;
};

// Without a system bus the program cannot follow the computer's sleep: it says so once, in the
// log and on the terminal it was started from, and runs.
TEST(Program, SaysOnceThatNoSystemBusIsReachable) {
    Terminal terminal;
    ASSERT_GE(terminal.end(), 0);
    Program program;
    program.start({}, "offscreen", {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (program.home.path() / "no-bus").string()},
                  terminal.end());
    terminal.closeOwnEnd();
    ASSERT_TRUE(eventually([&] { return contains(program.log(), "\"message\":\"state="); })) << program.log();
    EXPECT_EQ(count(program.log(), "no wake notifications from the system"), 1u) << program.log();
    EXPECT_TRUE(eventually([&] { return contains(terminal.text(), "no wake notifications from the system"); }))
        << terminal.text();
    const int status = program.terminate();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto said = terminal.textAtTheEnd();
    EXPECT_EQ(count(said, "no wake notifications from the system"), 1u) << said;
}

// A socket left where a running window program listens, as a crashed one leaves it.
void leaveSocket(const fs::path& file) {
    fs::create_directories(file.parent_path());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, file.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
    ::close(fd);
}

// What the program does not know ends it before anything starts (a toolkit option in a form the
// toolkit would ignore too), and --help lists what it knows (past the toolkit's options); --check-arguments says the same of the other arguments and starts
// nothing (not even over devices another program holds). Over this computer's devices it does not
// start while another program that does not answer a second start holds them, and says which.
TEST(Program, RefusesUnknownArgumentsAndASecondProgramOverTheDevices) {
    struct Case {
        std::vector<std::string> arguments;
        bool simulate;
        int status;
        std::string said;
    };
    Program holder;  // the lock of a program that runs over this computer's devices
    const fs::path lockFile = holder.home.path() / ".local" / "state" / "tindlewave" / "running";
    fs::create_directories(lockFile.parent_path());
    testkit::TempFolder::write(lockFile, std::to_string(::getpid()) + "\n");
    const int lock = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    leaveSocket(lockFile.parent_path() / "window.socket");  // the holder does not listen (a headless one)
    for (const auto& each : std::vector<Case>{
             {{"--bogus"}, true, 2, "unknown argument \"--bogus\""},
             {{"--help", "--bogus"}, false, 2, "unknown argument \"--bogus\""},
             {{"-snapshotSettings"}, true, 2, "-snapshotSettings needs a value"},
             {{"--help"}, false, 0, ""},
             // The toolkit's options, in each form it documents, are its own.
             {{"-style=fusion", "--stylesheet=a.qss", "-style", "fusion", "--help"}, false, 0, ""},
             {{"-style="}, true, 2, "-style needs a value"},
             // The others it would ignore in that form.
             {{"-platform=offscreen"}, true, 2, "\"-platform=offscreen\": -platform takes its value as the next argument"},
             {{"--check-arguments", "--session=a"}, false, 2, "\"--session=a\": --session takes its value as the next argument"},
             {{"--check-arguments", "--bogus"}, false, 2, "unknown argument \"--bogus\""},
             {{"--check-arguments", "--no-mouse"}, false, 2, "--no-mouse needs --simulate"},
             {{"--check-arguments", "-snapshotSettings", "pictures"}, false, 0, ""},
             {{}, false, 1, "runs already over this computer's devices (process " + std::to_string(::getpid()) + ")"},
         }) {
        Terminal terminal;
        ASSERT_GE(terminal.end(), 0);
        Program program;
        program.simulate = each.simulate;
        if (!each.simulate) program.homeOf = holder.home.path();
        program.start(each.arguments, "offscreen", {}, terminal.end());
        terminal.closeOwnEnd();
        int status = 0;
        ASSERT_TRUE(eventually([&] { return ::waitpid(program.pid, &status, WNOHANG) == program.pid; }))
            << each.arguments.size();
        program.pid = -1;
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), each.status) << each.said;
        EXPECT_TRUE(contains(terminal.textAtTheEnd(), each.said)) << terminal.textAtTheEnd();
        EXPECT_FALSE(fs::exists(program.configFolder())) << each.said;
    }
    ::close(lock);
}

// Simulated, --no-mouse leaves out the recorded mouse and attaches the keyboard, --no-keyboard
// the other way round.
TEST(Program, SimulatedWithoutTheMouseOrTheKeyboardAttachesOnlyTheOther) {
    for (const auto& [left, attached, leftOut] :
         {std::tuple{"--no-mouse", "kind=keyboard", "kind=mouse"}, {"--no-keyboard", "kind=mouse", "kind=keyboard"}}) {
        Program program;
        program.start({left});
        ASSERT_TRUE(eventually([&] { return contains(program.log(), attached); })) << left << "\n" << program.log();
        const int status = program.terminate();
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_FALSE(contains(program.log(), leftOut)) << left << "\n" << program.log();
    }
}

// Over this computer's devices the program holds them for as long as it runs: a second start of
// it brings the running one's settings window to the front and ends (a socket a crashed one left
// stands in the way of neither), a second headless program is refused and says which runs, and a
// simulated one runs beside it.
TEST(Program, OverTheDevicesASecondStartBringsTheWindowForwardAndASimulatedOneRunsBeside) {
    Program first;
    first.simulate = false;
    const fs::path socket = first.folder() / ".local" / "state" / "tindlewave" / "window.socket";
    leaveSocket(socket);
    first.start();
    ASSERT_TRUE(eventually([&] { return contains(first.log(), "\"message\":\"started\""); })) << first.log();

    auto secondStart = [&](std::string program) {
        Terminal terminal;
        Program second;
        second.simulate = false;
        second.homeOf = first.home.path();
        second.program = std::move(program);
        second.start({}, "offscreen", {}, terminal.end());
        terminal.closeOwnEnd();
        int status = 0;
        EXPECT_TRUE(eventually([&] { return ::waitpid(second.pid, &status, WNOHANG) == second.pid; }))
            << "a second program runs over the same devices";
        second.pid = -1;
        EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        return std::pair{WEXITSTATUS(status), terminal.textAtTheEnd()};
    };
    const auto [secondStatus, said] = secondStart(TW_BINARY_ROOT "/tindlewave");
    EXPECT_EQ(secondStatus, 0);
    EXPECT_TRUE(contains(said, "Tindlewave runs already (process " + std::to_string(first.pid) +
                                   "): its settings window was brought to the front"))
        << said;
    EXPECT_TRUE(eventually([&] { return contains(first.log(), "started again: the settings window comes to the front"); }))
        << first.log();
#ifdef TW_HEADLESS_PROGRAM
    const auto [headlessStatus, headlessSaid] = secondStart(TW_HEADLESS_PROGRAM);
    EXPECT_EQ(headlessStatus, 1);
    EXPECT_TRUE(contains(headlessSaid, "runs already over this computer's devices (process " + std::to_string(first.pid) + ")"))
        << headlessSaid;
#endif

    Program simulated;
    simulated.homeOf = first.home.path();
    simulated.start();
    ASSERT_TRUE(eventually([&] { return contains(first.log(), "attached the simulated mouse"); })) << first.log();
    int status = simulated.terminate();
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);

    status = first.terminate();
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::exists(socket));
}

// A system tray on an X display of the test's own, held as a panel holds it: a window that owns the
// tray's selection, announced to every client, and destroyed when the panel goes.
class PanelTray {
  public:
    explicit PanelTray(const std::string& display) : connection_(xcb_connect(display.c_str(), &screen_)) {
        if (xcb_connection_has_error(connection_)) return;
        auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection_));
        for (int i = 0; i < screen_; ++i) xcb_screen_next(&roots);
        root_ = roots.data->root;
        selection_ = atom("_NET_SYSTEM_TRAY_S" + std::to_string(screen_));
        manager_ = atom("MANAGER");
        protocols_ = atom("WM_PROTOCOLS");
        deleteWindow_ = atom("WM_DELETE_WINDOW");
        pid_ = atom("_NET_WM_PID");
    }
    ~PanelTray() { xcb_disconnect(connection_); }
    bool ok() const { return xcb_connection_has_error(connection_) == 0; }

    void take() {
        window_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, 0, window_, root_, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(connection_, window_, selection_, XCB_CURRENT_TIME);
        xcb_client_message_event_t announcement{};
        announcement.response_type = XCB_CLIENT_MESSAGE;
        announcement.format = 32;
        announcement.window = root_;
        announcement.type = manager_;
        announcement.data.data32[0] = XCB_CURRENT_TIME;
        announcement.data.data32[1] = selection_;
        announcement.data.data32[2] = window_;
        xcb_send_event(connection_, 0, root_, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&announcement));
        sync();
    }
    void leave() {
        xcb_destroy_window(connection_, window_);
        sync();
    }

    // The viewable top-level windows of process `pid` at least `width` wide.
    std::vector<xcb_window_t> windowsOf(pid_t pid, int width) {
        std::vector<xcb_window_t> found;
        auto* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr);
        if (!tree) return found;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            auto* attributes = xcb_get_window_attributes_reply(
                connection_, xcb_get_window_attributes(connection_, children[i]), nullptr);
            auto* owner = xcb_get_property_reply(
                connection_, xcb_get_property(connection_, 0, children[i], pid_, XCB_ATOM_CARDINAL, 0, 1), nullptr);
            auto* geometry = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, children[i]), nullptr);
            if (attributes && owner && geometry && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
                xcb_get_property_value_length(owner) == 4 &&
                *static_cast<const std::uint32_t*>(xcb_get_property_value(owner)) == std::uint32_t(pid) &&
                geometry->width >= width)
                found.push_back(children[i]);
            std::free(attributes);
            std::free(owner);
            std::free(geometry);
        }
        std::free(tree);
        return found;
    }
    // Asks a window to close, as its title bar's close button does.
    void close(xcb_window_t window) {
        xcb_client_message_event_t request{};
        request.response_type = XCB_CLIENT_MESSAGE;
        request.format = 32;
        request.window = window;
        request.type = protocols_;
        request.data.data32[0] = deleteWindow_;
        request.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&request));
        sync();
    }

  private:
    xcb_atom_t atom(const std::string& name) {
        auto* reply = xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, name.size(), name.c_str()), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }
    void sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

    int screen_ = 0;
    xcb_connection_t* connection_;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    xcb_atom_t selection_ = XCB_ATOM_NONE, manager_ = XCB_ATOM_NONE, protocols_ = XCB_ATOM_NONE,
               deleteWindow_ = XCB_ATOM_NONE, pid_ = XCB_ATOM_NONE;
};

// With a tray, the menu lives there and no window opens. When the tray goes away (a panel that
// crashed or restarts), the menu goes back to the window, which opens and says so in the log; the
// tray that comes back takes the menu again, and while there is none, closing the window quits.
TEST(Program, ATrayThatGoesAwayHandsTheMenuBackToTheWindow) {
    testkit::VirtualDisplay display;
    if (display.name().empty()) GTEST_SKIP() << "no Xvfb";
    PanelTray tray(display.name());
    ASSERT_TRUE(tray.ok());
    tray.take();
    Program program;
    program.start({}, "xcb", {"DISPLAY=" + display.name()});
    ASSERT_TRUE(eventually([&] { return contains(program.log(), "\"message\":\"state="); })) << program.log();
    EXPECT_FALSE(contains(program.log(), "no system tray")) << program.log();
    const int settingsWidth = 300;  // not the tray icon's window
    EXPECT_TRUE(tray.windowsOf(program.pid, settingsWidth).empty());

    tray.leave();
    ASSERT_TRUE(eventually([&] { return contains(program.log(), "the system tray went away: the settings window carries the menu"); }))
        << program.log();
    ASSERT_TRUE(eventually([&] { return tray.windowsOf(program.pid, settingsWidth).size() == 1; }));
    tray.take();
    ASSERT_TRUE(eventually([&] { return contains(program.log(), "a system tray appeared: the menu moved there"); }))
        << program.log();
    tray.leave();
    ASSERT_TRUE(eventually([&] { return count(program.log(), "the system tray went away") == 2; })) << program.log();

    const auto windows = tray.windowsOf(program.pid, settingsWidth);
    ASSERT_EQ(windows.size(), 1u);
    tray.close(windows.front());
    int status = 0;
    ASSERT_TRUE(eventually([&] { return ::waitpid(program.pid, &status, WNOHANG) == program.pid; })) << program.log();
    program.pid = -1;
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Run as root by a sudo that keeps another user's HOME and XDG folders, the program points them at
// root's own before the toolkit starts: the toolkit reads root's settings (here its logging rules),
// none of that user's, the program keeps its files in root's home and the other user's folders get
// nothing. Root's home is a folder of the test's own, named by a password file put over the
// system's in a mount namespace of the test's own (root's real home stays in view: the clone and
// its build may be there).
TEST(Program, AsRootWithAnotherUsersFoldersTheToolkitReadsOnlyRootsOwn) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can make a folder of another user's";
    if (::unshare(CLONE_NEWNS) != 0) GTEST_SKIP() << "no mount namespace can be made here";
    ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0) << std::strerror(errno);
    testkit::TempFolder folder;
    const fs::path own = folder.path() / "root";
    const fs::path others = folder.path() / "alice";
    fs::create_directories(own / ".config" / "QtProject");
    fs::create_directories(others / ".config" / "QtProject");
    fs::create_directories(folder.path() / "tmp");
    testkit::TempFolder::write(own / ".config" / "QtProject" / "qtlogging.ini", "[Rules]\nqt.qpa.theme.debug=true\n");
    testkit::TempFolder::write(others / ".config" / "QtProject" / "qtlogging.ini", "[Rules]\nqt.qpa.plugin.debug=true\n");
    for (const auto& entry : fs::recursive_directory_iterator(others))
        ASSERT_EQ(::chown(entry.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown(others.c_str(), 65534, 65534), 0);
    // The system's password file with root's home moved to `own`.
    std::string users;
    {
        std::istringstream lines(testkit::TempFolder::read("/etc/passwd"));
        for (std::string line; std::getline(lines, line);) {
            // name:password:uid:gid:comment:home:shell
            std::vector<std::string> fields;
            for (std::size_t at = 0;; ++at) {
                const auto colon = line.find(':', at);
                fields.push_back(line.substr(at, colon - at));
                if (colon == std::string::npos) break;
                at = colon;
            }
            if (fields.size() == 7 && fields[2] == "0") fields[5] = own.string();
            for (std::size_t i = 0; i < fields.size(); ++i) users += (i ? ":" : "") + fields[i];
            users += "\n";
        }
    }
    const fs::path passwords = folder.path() / "passwd";
    testkit::TempFolder::write(passwords, users);
    ASSERT_EQ(::mount(passwords.c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr), 0) << std::strerror(errno);
    struct Uncovered {
        ~Uncovered() { ::umount2("/etc/passwd", MNT_DETACH); }
    } uncovered;
    const passwd* root = ::getpwuid(0);
    ASSERT_TRUE(root != nullptr && root->pw_dir == own.string()) << "root's home is not the test's own";
    auto listing = [](const fs::path& where) {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(where)) names.push_back(entry.path().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const auto theirs = listing(others);

    Terminal terminal;
    ASSERT_GE(terminal.end(), 0);
    Program program;
    program.homeOf = others;
    program.start({}, "offscreen", {"TMPDIR=" + (folder.path() / "tmp").string()}, terminal.end());
    terminal.closeOwnEnd();
    const fs::path log = own / ".local" / "state" / "tindlewave" / "log";
    auto logged = [&] {
        std::string all;
        if (fs::exists(log))
            for (const auto& entry : fs::directory_iterator(log)) all += testkit::TempFolder::read(entry.path().string());
        return all;
    };
    ASSERT_TRUE(eventually([&] { return contains(logged(), "\"message\":\"state="); })) << terminal.text();
    const int status = program.terminate();
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto said = terminal.textAtTheEnd();
    EXPECT_TRUE(contains(said, "HOME (" + others.string() + ")")) << said;
    EXPECT_TRUE(contains(said, "Successfully created platform theme")) << said;
    EXPECT_FALSE(contains(said, "Successfully loaded Qt platform plugin")) << said;
    EXPECT_TRUE(fs::exists(own / ".config" / "tindlewave" / "config.json"));
    EXPECT_EQ(listing(others), theirs);
}

// A configuration that diverts a button of the simulated mouse.
void writeDivertingConfig(const Program& program) {
    fs::create_directories(program.configFolder());
    testkit::TempFolder::write(
        (program.configFolder() / "config.json").string(),
        R"({"version":1,"hyper":{"key":"capsLock","onTap":"nothing"},)"
        R"("devices":[{"match":{"vendor":"0x046D","product":"0xB023"},"name":"MX Master 3",)"
        R"("rules":[{"control":{"hidpp":"0xC3"},"when":"click","do":"missionControl"}]}],)"
        R"("ignored":[]})");
}

// A mouse set up by the configuration is diverted while the program runs; the quit puts it back,
// whether the quit comes from SIGTERM, a terminal's Ctrl-C (SIGINT) or a closed terminal (SIGHUP).
// The devices the launch brings are there at launch: set up for it, and no reconnect in the menu.
class ProgramQuitSignal : public testing::TestWithParam<int> {};

TEST_P(ProgramQuitSignal, SetsUpTheConfiguredMouseAndPutsItBackOnTheSignal) {
    Program program;
    writeDivertingConfig(program);
    program.start();
    ASSERT_TRUE(eventually([&] {
        return contains(program.log(), "state=Active notices=[] devices=[MX Master 3=Connected]");
    })) << program.log();
    {
        const auto log = program.log();
        EXPECT_TRUE(contains(log, "present #")) << log;
        EXPECT_FALSE(contains(log, "connect #")) << log;
        EXPECT_TRUE(contains(log, "MX Master 3 Wireless Mouse reasons=launch attempt=1")) << log;
        EXPECT_FALSE(contains(log, "reconnected at")) << log;
    }
    const int status = program.terminate(GetParam());
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto log = program.log();
    const std::string name = ::sigabbrev_np(GetParam());
    EXPECT_TRUE(contains(log, "quitting (received SIG" + name + ")")) << log;
    EXPECT_TRUE(contains(log, "MX Master 3 Wireless Mouse reasons=quit attempt=1 applied")) << log;
    EXPECT_TRUE(contains(log, "was left native")) << log;
    EXPECT_FALSE(contains(log, "was left diverted")) << log;
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramQuitSignal, testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const testing::TestParamInfo<int>& param) {
                             return std::string("SIG") + ::sigabbrev_np(param.param);
                         });

// A standard error whose reader has gone (`tindlewave 2>&1 | less` quit, `| head -1`) ends
// nothing: the program runs on with its devices set up, and its quit puts them back.
TEST(Program, AStandardErrorWhoseReaderHasGoneEndsNothing) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ::close(ends[0]);
    Program program;
    writeDivertingConfig(program);
    program.start({}, "offscreen", {}, ends[1]);
    ::close(ends[1]);
    ASSERT_TRUE(eventually([&] {
        return contains(program.log(), "state=Active notices=[] devices=[MX Master 3=Connected]");
    })) << program.log();
    const int status = program.terminate();
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(contains(program.log(), "was left native")) << program.log();
}

// The abstract socket of X display `number`, as an X client on Linux tries it first.
sockaddr_un abstractDisplaySocket(int number, socklen_t& size) {
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, path.data(), path.size());
    size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
    return address;
}

// An X display number nothing listens at, on the abstract socket or the file, from `from` on.
int freeDisplayNumber(int from) {
    for (int number = from; number < from + 100; ++number) {
        socklen_t size = 0;
        const sockaddr_un address = abstractDisplaySocket(number, size);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool listened = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0;
        ::close(fd);
        if (!listened && !fs::exists("/tmp/.X11-unix/X" + std::to_string(number))) return number;
    }
    return -1;
}

// An X display that takes every connection and closes it at once, as a server that lets the
// client in on no terms (no authorization it accepts).
class RefusingDisplay {
  public:
    explicit RefusingDisplay(int number) {
        socklen_t size = 0;
        const sockaddr_un address = abstractDisplaySocket(number, size);
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), size) != 0 || ::listen(fd_, 16) != 0) return;
        listening_ = true;
        closer_ = std::thread([fd = fd_] {
            for (int taken; (taken = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) ::close(taken);
        });
    }
    ~RefusingDisplay() {
        ::shutdown(fd_, SHUT_RDWR);  // the accept ends
        if (closer_.joinable()) closer_.join();
        ::close(fd_);
    }
    bool listening() const { return listening_; }

  private:
    int fd_ = -1;
    bool listening_ = false;
    std::thread closer_;
};

// Without a display, or with one where nothing listens or that lets the program in on no terms,
// the program says which display it could not open and why, and ends with status 1, the devices
// put back (the toolkit alone would abort, blaming its installation).
TEST(Program, WithoutADisplayItSaysWhichAndWhyAndEndsWithStatus1) {
    struct Case {
        std::string platform;
        std::vector<std::string> variables;
        std::string said;  // "{runtime}": the program's runtime folder
    };
    const int unused = freeDisplayNumber(600);
    const int refusing = freeDisplayNumber(unused + 1);
    ASSERT_GE(unused, 0);
    ASSERT_GE(refusing, 0);
    RefusingDisplay refuser(refusing);
    ASSERT_TRUE(refuser.listening());
    const std::string x11 = ":" + std::to_string(unused) + ".0";
    const std::string x11Socket = "/tmp/.X11-unix/X" + std::to_string(unused);
    const std::string x11Refusing = ":" + std::to_string(refusing);
    for (const auto& each : std::vector<Case>{
             {"xcb", {}, "cannot open a display (neither DISPLAY nor WAYLAND_DISPLAY is set)"},
             {"xcb", {"WAYLAND_DISPLAY=wayland-0"}, "cannot open a display (DISPLAY is not set)"},
             {"xcb", {"DISPLAY=" + x11}, "cannot open the display " + x11 + " (nothing listens at " + x11Socket + ")"},
             {"xcb",
              {"DISPLAY=" + x11Refusing},
              "cannot open the display " + x11Refusing + " (the X server there did not accept the connection)"},
             // A socket left by a compositor that ended; without DISPLAY only the Wayland display
             // is said.
             {"wayland;xcb",
              {"WAYLAND_DISPLAY=wayland-gone"},
              "cannot open the display wayland-gone (nothing listens at {runtime}/wayland-gone)"},
         }) {
        Terminal terminal;
        ASSERT_GE(terminal.end(), 0);
        Program program;
        writeDivertingConfig(program);
        std::string expected = "tindlewave: " + each.said;
        if (const auto at = expected.find("{runtime}"); at != std::string::npos) {
            expected.replace(at, 9, program.folder().string());
            const int left = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const std::string path = (program.folder() / "wayland-gone").string();
            std::memcpy(address.sun_path, path.data(), path.size());
            ASSERT_EQ(::bind(left, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
            ::close(left);
        }
        program.start({}, each.platform, each.variables, terminal.end());
        terminal.closeOwnEnd();
        int status = 0;
        ASSERT_TRUE(eventually([&] { return ::waitpid(program.pid, &status, WNOHANG) == program.pid; },
                               std::chrono::seconds(60)))
            << expected;
        program.pid = -1;
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << ": " << expected;
        EXPECT_EQ(WEXITSTATUS(status), 1) << expected;
        const auto said = terminal.textAtTheEnd();
        EXPECT_TRUE(contains(said, expected)) << said;
        EXPECT_EQ(count(said, "tindlewave: cannot open"), 1u) << said;
        EXPECT_FALSE(contains(said, "Reinstalling")) << said;
        const auto log = program.log();
        EXPECT_TRUE(contains(log, "was left native")) << log;
        EXPECT_FALSE(contains(log, "was left diverted")) << log;
    }
}

}  // namespace
}  // namespace tindlewave
