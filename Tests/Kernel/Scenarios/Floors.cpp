#include "Kernel/Scenarios/Floors.h"

#include <fcntl.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <thread>
#include <vector>

#include "Kernel/Scenarios/Guest.h"

namespace tindlewave::kernel {
namespace {

// --- inside the floor's process

volatile sig_atomic_t floorStopping = 0;

void onFloorTerm(int) { floorStopping = 1; }

// SIGTERM ends a blocking read (no SA_RESTART) so that the floor can put things back.
void catchFloorTerm() {
    struct sigaction action{};
    action.sa_handler = onFloorTerm;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
}

int floorFailed(const char* what) {
    std::printf("%s: %s\n", what, std::strerror(errno));
    std::fflush(stdout);
    return 1;
}

// A uinput keyboard named `name` with the keys set in `keys` (KEY_MAX / 8 + 1 bytes), the ids `id`.
int makeFloorKeyboard(const char* name, const unsigned char* keys, const input_id& id) {
    const int fd = ::open("/dev/uinput", O_WRONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    ::ioctl(fd, UI_SET_EVBIT, EV_SYN);
    ::ioctl(fd, UI_SET_EVBIT, EV_KEY);
    ::ioctl(fd, UI_SET_EVBIT, EV_MSC);
    ::ioctl(fd, UI_SET_MSCBIT, MSC_SCAN);
    for (int code = 0; code <= KEY_MAX; ++code)
        if (keys[code / 8] & (1u << (code % 8))) ::ioctl(fd, UI_SET_KEYBIT, code);
    uinput_setup setup{};
    setup.id = id;
    std::snprintf(setup.name, sizeof setup.name, "%s", name);
    if (::ioctl(fd, UI_DEV_SETUP, &setup) != 0 || ::ioctl(fd, UI_DEV_CREATE) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// With `twoStages`, the node is read on a thread of its own that writes what it reads to a pipe,
// which this thread reads and writes to the keyboard.
int runPipelineFloor(const char* node, bool twoStages) {
    const int in = ::open(node, O_RDONLY | O_CLOEXEC);
    if (in < 0) return floorFailed(node);
    if (::ioctl(in, EVIOCGRAB, 1) != 0) return floorFailed("grab");
    unsigned char keys[KEY_MAX / 8 + 1] = {};
    input_id id{};
    ::ioctl(in, EVIOCGBIT(EV_KEY, sizeof keys), keys);
    ::ioctl(in, EVIOCGID, &id);
    const int out = makeFloorKeyboard(twoStages ? twoStageFloorKeyboard : pipelineFloorKeyboard, keys, id);
    if (out < 0) return floorFailed("uinput");
    int pipe[2] = {-1, -1};
    if (twoStages) {
        if (::pipe2(pipe, O_CLOEXEC) != 0) return floorFailed("pipe");
        // The grabber takes no SIGTERM: it reaches this thread, whose read it ends.
        sigset_t term;
        ::sigemptyset(&term);
        ::sigaddset(&term, SIGTERM);
        ::pthread_sigmask(SIG_BLOCK, &term, nullptr);
        std::thread([in, to = pipe[1]] {
            input_event events[64];
            for (;;) {
                const auto got = ::read(in, events, sizeof events);
                if (got < 0 && errno == EINTR) continue;
                if (got <= 0 || ::write(to, events, static_cast<std::size_t>(got)) < 0) break;
            }
        }).detach();
        ::pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
    }
    const int from = twoStages ? pipe[0] : in;
    std::printf("ready\n");
    std::fflush(stdout);
    input_event events[64];
    while (!floorStopping) {
        const auto got = ::read(from, events, sizeof events);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (::write(out, events, static_cast<std::size_t>(got)) < 0 && errno != EINTR) break;
    }
    ::ioctl(out, UI_DEV_DESTROY);
    ::close(out);
    ::ioctl(in, EVIOCGRAB, 0);
    if (!twoStages) ::close(in);  // the grabber may still read it: the process's end closes it
    return 0;
}

constexpr std::uint8_t floorSoftwareId = 0x0B;
using LongReport = std::array<std::uint8_t, 20>;

// Sends a HID++ 2.0 request to the device attached directly and reads its reply (the notices and
// the kernel driver's replies before it skipped); none on an error reply or after 10 s.
std::optional<LongReport> floorRequest(int fd, std::uint8_t index, std::uint8_t function,
                                       std::initializer_list<std::uint8_t> params) {
    LongReport request{0x11, 0xFF, index, static_cast<std::uint8_t>(function << 4 | floorSoftwareId)};
    std::copy(params.begin(), params.end(), request.begin() + 4);
    if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return std::nullopt;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0) continue;
        LongReport reply{};
        if (::read(fd, reply.data(), reply.size()) < 4 || reply[0] != 0x11) continue;
        if (reply[2] == index && reply[3] == request[3]) return reply;
        if (reply[2] == 0xFF && reply[3] == index && reply[4] == request[3]) return std::nullopt;
    }
    return std::nullopt;
}

int runHidppFloor(const char* hidraw, std::uint16_t control) {
    unsigned char keys[KEY_MAX / 8 + 1] = {};
    keys[KEY_4 / 8] |= static_cast<unsigned char>(1u << (KEY_4 % 8));
    const int out = makeFloorKeyboard(hidppFloorKeyboard, keys, input_id{BUS_VIRTUAL, 0x1209, 0x0002, 1});
    if (out < 0) return floorFailed("uinput");
    const int fd = ::open(hidraw, O_RDWR | O_CLOEXEC);
    if (fd < 0) return floorFailed(hidraw);
    const auto feature = floorRequest(fd, 0x00, 0, {0x1B, 0x04});
    if (!feature || (*feature)[4] == 0) return floorFailed("the reprogrammable controls feature");
    const std::uint8_t index = (*feature)[4];
    const std::uint8_t high = static_cast<std::uint8_t>(control >> 8), low = static_cast<std::uint8_t>(control);
    if (!floorRequest(fd, index, 3, {high, low, 0x03})) return floorFailed("divert");
    std::printf("ready\n");
    std::fflush(stdout);
    bool down = false;
    auto write = [&](bool press) {
        input_event events[2] = {};
        events[0].type = EV_KEY;
        events[0].code = KEY_4;
        events[0].value = press ? 1 : 0;
        events[1].type = EV_SYN;
        [[maybe_unused]] auto written = ::write(out, events, sizeof events);
        down = press;
    };
    LongReport report{};
    while (!floorStopping) {
        const auto got = ::read(fd, report.data(), report.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        // The diverted-buttons notice: the diverted controls down now, up to four.
        if (got < 12 || report[0] != 0x11 || report[2] != index || report[3] != 0) continue;
        bool held = false;
        for (int at = 4; at < 12; at += 2) held = held || (report[at] == high && report[at + 1] == low);
        if (held != down) write(held);
    }
    if (down) write(false);
    floorRequest(fd, index, 3, {high, low, 0x02});
    ::close(fd);
    ::ioctl(out, UI_DEV_DESTROY);
    ::close(out);
    return 0;
}

// The scenario program started as a floor runs the floor and ends before its tests are listed.
[[maybe_unused]] const bool runningAFloor = [] {
    const char* kind = std::getenv("TW_KERNEL_FLOOR");
    const char* node = std::getenv("TW_KERNEL_FLOOR_NODE");
    if (!kind || !node) return false;
    catchFloorTerm();
    int status = 2;
    if (std::strcmp(kind, "pipeline") == 0) status = runPipelineFloor(node, false);
    if (std::strcmp(kind, "two-stage") == 0) status = runPipelineFloor(node, true);
    if (std::strcmp(kind, "hidpp") == 0) {
        const char* control = std::getenv("TW_KERNEL_FLOOR_CONTROL");
        status = runHidppFloor(node, static_cast<std::uint16_t>(std::strtoul(control ? control : "0", nullptr, 0)));
    }
    std::fflush(stdout);
    std::_Exit(status);
}();

// --- in the scenario

bool readFloorOutput(int fd, std::string& seen, int timeoutMs) {
    if (fd < 0) return false;
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, timeoutMs) <= 0) return true;
    char chunk[4096];
    const auto got = ::read(fd, chunk, sizeof chunk);
    if (got <= 0) return false;
    seen.append(chunk, static_cast<std::size_t>(got));
    return true;
}

}  // namespace

FloorProcess FloorProcess::pipeline(const std::string& keyboardNode) {
    return FloorProcess("pipeline", keyboardNode, "");
}

FloorProcess FloorProcess::twoStage(const std::string& keyboardNode) {
    return FloorProcess("two-stage", keyboardNode, "");
}

FloorProcess FloorProcess::hidpp(const std::string& hidrawNode, std::uint16_t control) {
    return FloorProcess("hidpp", hidrawNode, std::to_string(control));
}

FloorProcess::FloorProcess(const std::string& kind, const std::string& node, const std::string& control) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> variables{"TW_KERNEL_FLOOR=" + kind, "TW_KERNEL_FLOOR_NODE=" + node,
                                       "TW_KERNEL_FLOOR_CONTROL=" + control, "PATH=/usr/bin:/bin"};
    std::vector<char*> env;
    for (auto& variable : variables) env.push_back(variable.data());
    env.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char* argv[] = {self, nullptr};
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        ::execve(self, argv, env.data());
        ::_exit(127);
    }
    ::close(out[1]);
    output_ = out[0];
}

FloorProcess::FloorProcess(FloorProcess&& other) noexcept
    : pid_(other.pid_), output_(other.output_), seen_(std::move(other.seen_)) {
    other.pid_ = -1;
    other.output_ = -1;
}

FloorProcess::~FloorProcess() {
    stop();
    if (output_ >= 0) ::close(output_);
}

bool FloorProcess::waitReady(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + scaled(limit);
    while (seen_.find("ready\n") == std::string::npos) {
        if (std::chrono::steady_clock::now() >= end) return false;
        if (!readFloorOutput(output_, seen_, 100)) return false;
    }
    return true;
}

int FloorProcess::stop() {
    if (pid_ <= 0) return -1;
    // Sent again until it ends: one that came between its check and its next blocking read is
    // not seen until the read returns.
    int status = 0;
    const bool ended = waitUntil([&] {
        ::kill(pid_, SIGTERM);
        return ::waitpid(pid_, &status, WNOHANG) == pid_;
    }, std::chrono::seconds(20));
    if (!ended) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    output();
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string& FloorProcess::output() {
    for (std::size_t before = seen_.size() + 1; before != seen_.size();) {
        before = seen_.size();
        if (!readFloorOutput(output_, seen_, 0)) break;
    }
    return seen_;
}

}  // namespace tindlewave::kernel
