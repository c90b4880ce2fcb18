#include "Kernel/Scenarios/Guest.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "TestKit/ReachableCopies.h"

namespace tindlewave::kernel {
namespace {

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::string value = text.str();
    while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
    return value;
}

int remainingMs(std::chrono::steady_clock::time_point end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

// Reads what a pipe has within `timeoutMs` into `seen`; false at its end.
bool readPipe(int fd, std::string& seen, int timeoutMs) {
    if (fd < 0) return false;
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, timeoutMs) <= 0) return true;
    char chunk[8192];
    auto got = ::read(fd, chunk, sizeof chunk);
    if (got <= 0) return false;
    seen.append(chunk, static_cast<std::size_t>(got));
    return true;
}

// Reads what an ended process left in a pipe (until its end, or a second with nothing new).
void drain(int fd, std::string& seen) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < end && seen.size() < (64u << 20)) {
        const auto before = seen.size();
        if (!readPipe(fd, seen, 1000) || seen.size() == before) return;
    }
}

// Leaves `text` in the scenario's artefacts as `name`.log, and prints it too when the scenario has
// failed so far (what the program said and what the desktop saw belong in a failure's log).
void leaveForTheReport(const std::string& name, const std::string& text) {
    static int sequence = 0;
    const auto file = artefacts() / (name + "-" + std::to_string(++sequence) + ".log");
    std::ofstream(file) << text;
    if (::testing::Test::HasFailure())
        std::printf("--- %s (kept in %s):\n%s\n--- end of %s\n", name.c_str(), file.c_str(),
                    text.c_str(), name.c_str());
    std::fflush(stdout);
}

}  // namespace

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + scaled(limit);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

std::filesystem::path artefacts() {
    const char* folder = std::getenv("TW_KERNEL_ARTEFACTS");
    std::filesystem::path path = folder ? folder : "/tmp/tw-kernel-artefacts";
    std::filesystem::create_directories(path);
    return path;
}

VirtualMouseDescription recording(const std::string& file) {
    auto loaded = loadVirtualMouse(std::string(TW_BINARY_ROOT) + "/share/tindlewave/devices/" + file);
    if (!loaded.ok()) return {};
    return *loaded;
}

// --- nodes

std::vector<InputNode> inputNodes() {
    std::vector<InputNode> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/input", error)) {
        const auto name = entry.path().filename().string();
        if (name.rfind("event", 0) != 0) continue;
        nodes.push_back({"/dev/input/" + name, readText(entry.path() / "device" / "name"),
                         readText(entry.path() / "device" / "phys")});
    }
    return nodes;
}

std::string eventNode(const std::string& name, bool mirror) {
    for (const auto& node : inputNodes())
        if (node.name == name && node.ours() == mirror) return node.node;
    return {};
}

std::string eventNodeContaining(const std::string& part) {
    for (const auto& node : inputNodes())
        if (!node.ours() && node.name.find(part) != std::string::npos) return node.node;
    return {};
}

std::string hidrawNode(const std::string& part) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/hidraw", error)) {
        std::ifstream uevent(entry.path() / "device" / "uevent");
        std::string line;
        while (std::getline(uevent, line))
            if (line.rfind("HID_NAME=", 0) == 0 && line.find(part) != std::string::npos)
                return "/dev/" + entry.path().filename().string();
    }
    return {};
}

std::string hidrawNode(std::uint16_t vendor, std::uint16_t product) {
    char ids[32];
    std::snprintf(ids, sizeof ids, ":0000%04X:0000%04X", vendor, product);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/hidraw", error)) {
        std::ifstream uevent(entry.path() / "device" / "uevent");
        std::string line;
        while (std::getline(uevent, line))
            if (line.rfind("HID_ID=", 0) == 0 && line.find(ids) != std::string::npos)
                return "/dev/" + entry.path().filename().string();
    }
    return {};
}

std::string describeInputNodes() {
    std::string text;
    for (const auto& node : inputNodes()) text += node.node + " \"" + node.name + "\" " + node.phys + "\n";
    return text;
}

void settleUdev() {
    const auto command = "udevadm settle --timeout=" + std::to_string(scaled(60s).count() / 1000);
    [[maybe_unused]] int status = std::system(command.c_str());
}

std::string waitForNode(const std::function<std::string()>& find, std::chrono::milliseconds limit) {
    std::string node;
    waitUntil([&] {
        node = find();
        return !node.empty() && ::access(node.c_str(), F_OK) == 0;
    }, limit);
    return node;
}

namespace {

// The key codes set in a node's key bits, as `request` (made with the bits' size) reads them.
std::set<int> keyBits(const std::string& node, unsigned long request) {
    std::set<int> codes;
    int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return codes;
    unsigned char bits[KEY_MAX / 8 + 1] = {};
    if (::ioctl(fd, request, bits) >= 0)
        for (int code = 0; code <= KEY_MAX; ++code)
            if (bits[code / 8] & (1u << (code % 8))) codes.insert(code);
    ::close(fd);
    return codes;
}

}  // namespace

std::set<int> keysDown(const std::string& node) {
    return keyBits(node, EVIOCGKEY(KEY_MAX / 8 + 1));
}

std::set<int> keysItCanSend(const std::string& node) {
    return keyBits(node, EVIOCGBIT(EV_KEY, KEY_MAX / 8 + 1));
}

int keyCode(const std::string& node, std::uint32_t scanCode) {
    int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    input_keymap_entry entry{};
    entry.len = sizeof scanCode;
    std::memcpy(entry.scancode, &scanCode, sizeof scanCode);
    int code = ::ioctl(fd, EVIOCGKEYCODE_V2, &entry) == 0 ? static_cast<int>(entry.keycode) : -1;
    ::close(fd);
    return code;
}

bool grabbed(const std::string& node) {
    int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    bool busy = false;
    if (::ioctl(fd, EVIOCGRAB, 1) == 0)
        ::ioctl(fd, EVIOCGRAB, 0);
    else
        busy = errno == EBUSY;
    ::close(fd);
    return busy;
}

bool hostKeys(const std::vector<std::string>& lines) {
    static int sequence = 0;
    const std::filesystem::path folder = "/run/tw-kernel/keys";
    const std::string stem = std::to_string(::getpid()) + "-" + std::to_string(++sequence);
    {
        std::ofstream request(folder / (stem + ".tmp"));
        for (const auto& line : lines) request << line << "\n";
        if (!request) return false;
    }
    std::error_code error;
    std::filesystem::rename(folder / (stem + ".tmp"), folder / (stem + ".req"), error);
    if (error) return false;
    return waitUntil([&] { return std::filesystem::exists(folder / (stem + ".done")); }, 30s);
}

// --- node reader

NodeReader::NodeReader(std::string node) : node_(std::move(node)) {
    fd_ = ::open(node_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    if (fd_ >= 0) thread_ = std::thread([this] { run(); });
}

NodeReader::~NodeReader() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(stop_, &one, sizeof one);
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
    ::close(stop_);
}

void NodeReader::run() {
    while (true) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents) return;
        if (fds[0].revents & (POLLERR | POLLHUP)) return;
        input_event events[64];
        auto got = ::read(fd_, events, sizeof events);
        if (got <= 0) {
            if (got < 0 && errno == EAGAIN) continue;
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < static_cast<std::size_t>(got) / sizeof(input_event); ++i) {
            if (events[i].type != EV_SYN || events[i].code == SYN_DROPPED) {
                events_.push_back({events[i].type, events[i].code, events[i].value});
                arrivals_.push_back(now);
            }
        }
    }
}

std::vector<InputEvent> NodeReader::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<std::chrono::steady_clock::time_point> NodeReader::arrivals() const {
    std::lock_guard lock(mutex_);
    return arrivals_;
}

bool NodeReader::has(InputEvent event) const {
    std::lock_guard lock(mutex_);
    return std::find(events_.begin(), events_.end(), event) != events_.end();
}

bool NodeReader::waitFor(InputEvent event, std::chrono::milliseconds limit) const {
    return waitUntil([&] { return has(event); }, limit);
}

std::size_t NodeReader::size() const {
    std::lock_guard lock(mutex_);
    return events_.size();
}

int NodeReader::count(int type, int code) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(events_.begin(), events_.end(), [&](const InputEvent& e) {
        return e.type == type && e.code == code;
    }));
}

std::string NodeReader::describe() const {
    std::lock_guard lock(mutex_);
    std::string text = node_ + ":";
    for (const auto& e : events_)
        text += " " + std::to_string(e.type) + "/" + std::to_string(e.code) + "/" + std::to_string(e.value);
    return text;
}

// --- libinput

LibinputWatch::LibinputWatch() {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        ::execlp("stdbuf", "stdbuf", "-oL", "libinput", "debug-events", "--show-keycodes",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    output_ = out[0];
}

LibinputWatch::~LibinputWatch() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    drain(output_, seen_);
    if (output_ >= 0) ::close(output_);
    leaveForTheReport("libinput-debug-events", seen_);
}

void LibinputWatch::readMore(int timeoutMs) { readPipe(output_, seen_, timeoutMs); }

bool LibinputWatch::waitFor(const std::vector<std::string>& parts, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + scaled(limit);
    while (true) {
        std::istringstream lines(seen_);
        std::string line;
        while (std::getline(lines, line)) {
            bool all = true;
            for (const auto& part : parts) all = all && line.find(part) != std::string::npos;
            if (all) return true;
        }
        if (std::chrono::steady_clock::now() >= end) return false;
        readMore(std::min(remainingMs(end), 200));
    }
}

int LibinputWatch::count(const std::vector<std::string>& parts) {
    readMore(0);
    int n = 0;
    std::istringstream lines(seen_);
    std::string line;
    while (std::getline(lines, line)) {
        bool all = true;
        for (const auto& part : parts) all = all && line.find(part) != std::string::npos;
        n += all ? 1 : 0;
    }
    return n;
}

std::set<std::string> LibinputWatch::keysHeld() {
    readMore(0);
    std::map<std::string, int> count;
    std::istringstream lines(seen_);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("KEYBOARD_KEY") == std::string::npos) continue;
        auto at = line.find("KEY_", line.find("KEYBOARD_KEY") + 12);
        if (at == std::string::npos) continue;
        auto name = line.substr(at, line.find(' ', at) - at);
        if (line.find("released") != std::string::npos) --count[name];
        else if (line.find("pressed") != std::string::npos) ++count[name];
    }
    std::set<std::string> held;
    for (const auto& [name, n] : count)
        if (n > 0) held.insert(name);
    return held;
}

std::string LibinputWatch::output() {
    readMore(0);
    return seen_;
}

ThreadTimes threadTimes(pid_t pid, pid_t thread) {
    const std::string task = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(thread);
    ThreadTimes times;
    std::ifstream schedstat(task + "/schedstat");
    double run = 0, queued = 0;
    if (schedstat >> run >> queued) {
        times.runMs = run / 1e6;
        times.queuedMs = queued / 1e6;
    }
    std::ifstream stat(task + "/stat");
    std::string statText((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    if (auto close = statText.rfind(')'); close != std::string::npos) {
        std::istringstream fields(statText.substr(close + 2));
        std::string field;
        const double tickMs = 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
        for (int n = 3; fields >> field; ++n) {
            if (n == 14) times.userMs = std::stod(field) * tickMs;
            if (n == 15) times.systemMs = std::stod(field) * tickMs;
        }
    }
    std::ifstream status(task + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) times.waits = std::stol(line.substr(24));
        if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) times.preempted = std::stol(line.substr(27));
    }
    return times;
}

std::map<pid_t, std::pair<std::string, ThreadTimes>> threadsOf(pid_t pid) {
    std::map<pid_t, std::pair<std::string, ThreadTimes>> threads;
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& entry : std::filesystem::directory_iterator(tasks, error)) {
        const pid_t thread = std::stoi(entry.path().filename().string());
        threads[thread] = {readText(entry.path() / "comm"), threadTimes(pid, thread)};
    }
    return threads;
}

double processCpuMs(pid_t pid) {
    double total = 0;
    for (const auto& [thread, named] : threadsOf(pid)) total += named.second.runMs;
    return total;
}

// --- program

bool waitApplied(Program& program) {
    const auto from = program.mark();
    program.send("wait applied " + std::to_string(scaled(150s).count() / 1000));
    return program.waitForAny({"\napplied\n", "\nnot applied in time\n"}, 180s, from) == 0;
}

VirtualScreen::VirtualScreen() {
    // The first display number free in this machine.
    int number = 7;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))) ++number;
    display_ = ":" + std::to_string(number);
    const auto log = artefacts() / "xvfb.log";
    pid_ = ::fork();
    if (pid_ == 0) {
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out >= 0) {
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
        }
        ::setpgid(0, 0);
        ::execlp("Xvfb", "Xvfb", display_.c_str(), "-nolisten", "tcp", "-noreset", "-screen", "0",
                 "1280x800x24", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto socket = "/tmp/.X11-unix/X" + std::to_string(number);
    ok_ = pid_ > 0 && waitUntil([&] {
        return std::filesystem::exists(socket) || ::waitpid(pid_, nullptr, WNOHANG) == pid_;
    }, 60s) && std::filesystem::exists(socket);
}

VirtualScreen::~VirtualScreen() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
}

Program::Program(const VirtualScreen& screen) : Program() { display_ = screen.display(); }

Program::Program(std::optional<User> user) : user_(std::move(user)) {
    char folder[] = "/tmp/tw-kernel-home-XXXXXX";
    home_ = ::mkdtemp(folder);
    for (const auto* sub : {".config/tindlewave", ".local/state", "run"})
        std::filesystem::create_directories(home_ / sub);
    std::filesystem::permissions(home_ / "run", std::filesystem::perms::owner_all);
    if (user_) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(home_))
            [[maybe_unused]] int ignored = ::chown(entry.path().c_str(), user_->uid, user_->gid);
        [[maybe_unused]] int ignored = ::chown(home_.c_str(), user_->uid, user_->gid);
    }
}

Program::~Program() {
    if (input_ >= 0) ::close(input_);
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    drain(output_, seen_);
    if (!display_.empty()) readMore(0);  // the rest of its log
    if (output_ >= 0) ::close(output_);
    if (!seen_.empty() || !runs_.empty())
        leaveForTheReport(display_.empty() ? "tindlewave-headless" : "tindlewave", runs_ + seen_);
    std::error_code error;
    std::filesystem::remove_all(home_, error);
}

void Program::writeConfig(const std::string& json) {
    const auto path = home_ / ".config" / "tindlewave" / "config.json";
    std::ofstream(path) << json;
    if (user_) [[maybe_unused]] int ignored = ::chown(path.c_str(), user_->uid, user_->gid);
}

namespace {

// One of the two programs: the scenario program's build's, or the one of the build folder
// TW_KERNEL_PROGRAMS names (the optimised build, whose figures are a user's).
std::string programNamed(const char* name, const char* built) {
    const char* folder = std::getenv("TW_KERNEL_PROGRAMS");
    if (!folder || !*folder) return built;
    return (std::filesystem::path(folder) / name).string();
}

std::string headlessProgram() { return programNamed("tindlewave-headless", TW_HEADLESS_PROGRAM); }

// The program as another user can run it: a copy in a folder of its own under /tmp, made once
// (the build folder may sit where only root can enter, such as root's home).
std::string reachableProgram() {
    static testkit::ReachableCopies copies;
    static const std::string program = copies.add(headlessProgram()).string();
    return program;
}

pid_t spawn(const std::filesystem::path& home, const std::optional<User>& user, const std::string& display,
            const std::vector<std::string>& arguments, int& input, int& output) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return -1;
    std::vector<std::string> variables{
        "HOME=" + home.string(),
        "XDG_CONFIG_HOME=" + (home / ".config").string(),
        "XDG_STATE_HOME=" + (home / ".local" / "state").string(),
        "XDG_RUNTIME_DIR=" + (home / "run").string(),
        "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (home / "no-bus").string(),
        "PATH=/usr/bin:/bin",
        "LANG=C.UTF-8",
    };
    if (!display.empty()) {
        variables.push_back("DISPLAY=" + display);
        variables.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + (home / "no-session-bus").string());
    }
    std::vector<std::string> args{user ? reachableProgram() : headlessProgram()};
#ifdef TW_WINDOW_PROGRAM
    if (!display.empty()) args = {programNamed("tindlewave", TW_WINDOW_PROGRAM)};
#endif
    args.insert(args.end(), arguments.begin(), arguments.end());
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        ::setpgid(0, 0);
        if (user) {
            if (::setgroups(user->groups.size(), user->groups.data()) != 0 ||
                ::setresgid(user->gid, user->gid, user->gid) != 0 ||
                ::setresuid(user->uid, user->uid, user->uid) != 0)
                ::_exit(126);
        }
        if (::chdir(home.c_str()) != 0) ::_exit(126);
        std::vector<char*> env, argv;
        for (auto& variable : variables) env.push_back(variable.data());
        env.push_back(nullptr);
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execve(argv[0], argv.data(), env.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    input = in[1];
    output = out[0];
    return pid;
}

}  // namespace

bool Program::start(const std::vector<std::string>& arguments) {
    if (input_ >= 0) ::close(input_);
    if (output_ >= 0) ::close(output_);
    pid_ = spawn(home_, user_, display_, arguments, input_, output_);
    return pid_ > 0;
}

void Program::send(const std::string& line) {
    if (input_ < 0) return;
    std::string whole = line + "\n";
    [[maybe_unused]] auto written = ::write(input_, whole.data(), whole.size());
}

void Program::readMore(int timeoutMs) {
    if (!readPipe(output_, seen_, timeoutMs)) std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 50)));
    if (display_.empty()) return;
    // The window program's log lines, from its run's file (the newest) as it grows.
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(home_ / ".local/state/tindlewave/log", error)) {
        if (entry.path().extension() != ".jsonl") continue;
        if (log_.empty() || std::filesystem::last_write_time(entry.path(), error) >
                                std::filesystem::last_write_time(log_, error)) {
            if (entry.path() != log_) logRead_ = 0;
            log_ = entry.path();
        }
    }
    if (log_.empty()) return;
    std::ifstream in(log_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(logRead_));
    std::string more((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    logRead_ += more.size();
    seen_ += more;
}

bool Program::waitFor(const std::string& text, std::chrono::milliseconds limit, std::size_t from) {
    const auto end = std::chrono::steady_clock::now() + scaled(limit);
    while (seen_.find(text, std::min(from, seen_.size())) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= end) return false;
        readMore(std::min(remainingMs(end), 200));
    }
    return true;
}

int Program::waitForAny(const std::vector<std::string>& texts, std::chrono::milliseconds limit,
                        std::size_t from) {
    const auto end = std::chrono::steady_clock::now() + scaled(limit);
    while (true) {
        for (std::size_t i = 0; i < texts.size(); ++i)
            if (seen_.find(texts[i], from > 0 ? from - 1 : 0) != std::string::npos) return static_cast<int>(i);
        if (std::chrono::steady_clock::now() >= end) return -1;
        readMore(std::min(remainingMs(end), 200));
    }
}

std::vector<std::pair<pid_t, std::string>> Program::threads() const {
    std::vector<std::pair<pid_t, std::string>> list;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task", error))
        list.emplace_back(std::stoi(entry.path().filename().string()), readText(entry.path() / "comm"));
    return list;
}

int Program::waitForEnd(std::chrono::milliseconds limit) {
    if (pid_ <= 0) return -1;
    const auto end = std::chrono::steady_clock::now() + scaled(limit);
    while (true) {
        int status = 0;
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            while (readPipe(output_, seen_, 100)) {
                if (seen_.size() > (64u << 20)) break;
            }
            readMore(0);
            return status;
        }
        if (std::chrono::steady_clock::now() >= end) return -1;
        readMore(100);
    }
}

int Program::quit(std::chrono::milliseconds limit) {
    if (display_.empty()) send("quit");
    else kill(SIGTERM);
    int status = waitForEnd(limit);
    if (status < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void Program::kill(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}

std::pair<int, std::string> Program::run(const std::vector<std::string>& arguments,
                                         std::chrono::milliseconds limit) {
    int input = -1, output = -1;
    pid_t pid = spawn(home_, user_, display_, arguments, input, output);
    ::close(input);
    std::string text;
    const auto end = std::chrono::steady_clock::now() + scaled(limit);
    while (readPipe(output, text, std::max(1, std::min(remainingMs(end), 200))))
        if (std::chrono::steady_clock::now() >= end) {
            ::kill(pid, SIGKILL);
            break;
        }
    ::close(output);
    int status = 0;
    ::waitpid(pid, &status, 0);
    runs_ += "--- run";
    for (const auto& argument : arguments) runs_ += " " + argument;
    runs_ += ":\n" + text + "\n";
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), text};
}

}  // namespace tindlewave::kernel
