#include "Platform/Linux/KeyMap/EvdevKeyMap.h"

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "Platform/Linux/System/Files.h"
#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

namespace {

// Far above any keyboard's table (a laptop's lists 512 entries); ends a table that never ends.
constexpr std::uint16_t mostEntries = 0x4000;

std::string systemWords(int code) { return std::strerror(code); }

// An open node, closed on every path.
class OpenNode {
  public:
    explicit OpenNode(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)), error_(errno) {}
    int fd() const { return fd_.get(); }
    int error() const { return error_; }

  private:
    UniqueFd fd_;
    int error_;
};

// Whether the kernel still has the input device: its table, and so its baseline, goes with it.
bool inputIsPresent(std::string_view input) {
    struct stat info {};
    return ::stat(("/sys/class/input/" + std::string(input)).c_str(), &info) == 0 || errno != ENOENT;
}

}  // namespace

EvdevKeyMap::EvdevKeyMap(Keyboards keyboards, std::string baselineFolder, std::string bootID)
    : keyboards_(std::move(keyboards)), folder_(std::move(baselineFolder), bootID), bootID_(std::move(bootID)) {}

std::string EvdevKeyMap::currentBootID() {
    auto text = files::read("/proc/sys/kernel/random/boot_id", 256);
    if (!text.ok()) return {};
    std::string id = *text;
    while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
    return id;
}

Result<ScanCodeMap, std::string> EvdevKeyMap::dump(int fd) {
    ScanCodeMap table;
    for (std::uint16_t index = 0; index < mostEntries; ++index) {
        input_keymap_entry entry{};
        entry.flags = INPUT_KEYMAP_BY_INDEX;
        entry.index = index;
        if (::ioctl(fd, EVIOCGKEYCODE_V2, &entry) != 0) {
            if (errno == EINVAL) return table;  // past the last entry
            return systemWords(errno);
        }
        if (entry.len == 0 || entry.len > sizeof(std::uint32_t)) continue;
        std::uint32_t scanCode = 0;
        std::memcpy(&scanCode, entry.scancode, entry.len);
        if (entry.keycode <= 0xFFFF) table[scanCode] = static_cast<std::uint16_t>(entry.keycode);
    }
    return table;
}

Result<std::monostate, std::string> EvdevKeyMap::setKey(int fd, std::uint32_t scanCode,
                                                        std::uint16_t keyCode) {
    input_keymap_entry entry{};
    entry.len = sizeof scanCode;
    entry.keycode = keyCode;
    std::memcpy(entry.scancode, &scanCode, sizeof scanCode);
    if (::ioctl(fd, EVIOCSKEYCODE_V2, &entry) != 0) return systemWords(errno);
    return std::monostate{};
}

std::vector<EvdevKeyMap::Keyboard> EvdevKeyMap::matching(std::string_view text,
                                                         std::string& problem) const {
    std::vector<Keyboard> found;
    auto wanted = KeyboardMatching::parse(text);
    if (!wanted) {
        problem = "no keyboard can match " + std::string(text);
        return found;
    }
    for (auto& keyboard : keyboards_()) {
        const bool matches = wanted->builtIn ? keyboard.builtIn
                                             : !keyboard.builtIn && keyboard.vendor == wanted->vendor &&
                                                   keyboard.product == wanted->product;
        if (matches) found.push_back(std::move(keyboard));
    }
    return found;
}

ScanCodeBaseline EvdevKeyMap::baselineFor(const Keyboard& keyboard, const ScanCodeMap& current) {
    std::lock_guard lock(mutex_);
    if (auto known = baselines_.find(keyboard.input);
        known != baselines_.end() && ScanCodeMaps::fits(known->second, current))
        return known->second;
    // Each input name is used once per boot: a keyboard plugged in again comes back under a new
    // one. The files of nodes that are gone go whenever a node is first met, so the folder holds
    // about one file per keyboard present, however often they are replugged.
    if (!baselines_.contains(keyboard.input)) folder_.removeStale(inputIsPresent);
    std::optional<ScanCodeBaseline> baseline;
    if (auto stored = folder_.read(keyboard.input)) baseline = ScanCodeMaps::decode(*stored, bootID_);
    // A table that is not this node's (short, empty, or another keyboard's) would route keys the
    // node does not have, or put back keys it never had: the node's own table is taken instead.
    if (!baseline || !ScanCodeMaps::fits(*baseline, current)) {
        baseline = ScanCodeMaps::baselineOf(current);
        // Without the file a crash loses only the way back from the kernel's defaults; the
        // routes still work, so a folder that cannot be written is no failure.
        (void)folder_.write(keyboard.input, ScanCodeMaps::encode(*baseline, bootID_));
    }
    baselines_[keyboard.input] = *baseline;
    return *baseline;
}

void EvdevKeyMap::keepRouted(const Keyboard& keyboard, std::set<std::uint32_t> routed) {
    std::lock_guard lock(mutex_);
    auto known = baselines_.find(keyboard.input);
    if (known == baselines_.end() || known->second.routed == routed) return;
    known->second.routed = std::move(routed);
    (void)folder_.write(keyboard.input, ScanCodeMaps::encode(known->second, bootID_));
}

Result<KeyMapBackend::Services, KeyMapBackend::Failure> EvdevKeyMap::read(std::string_view text) {
    std::string problem;
    const auto keyboards = matching(text, problem);
    if (!problem.empty()) return Failure{problem};
    Services services;
    for (const auto& keyboard : keyboards) {
        OpenNode node(keyboard.node);
        if (node.fd() < 0) return Failure{keyboard.node + ": " + systemWords(node.error())};
        auto current = dump(node.fd());
        if (!current.ok()) return Failure{keyboard.node + ": " + current.error()};
        services[keyboard.service] = ScanCodeMaps::pairs(baselineFor(keyboard, *current), *current);
    }
    return services;
}

Result<std::monostate, KeyMapBackend::Failure> EvdevKeyMap::set(std::string_view text,
                                                                const KeyMapSetup& setup) {
    std::string problem;
    const auto keyboards = matching(text, problem);
    if (!problem.empty()) return Failure{problem};
    for (const auto& keyboard : keyboards) {
        OpenNode node(keyboard.node);
        if (node.fd() < 0) return Failure{keyboard.node + ": " + systemWords(node.error())};
        auto current = dump(node.fd());
        if (!current.ok()) return Failure{keyboard.node + ": " + current.error()};
        const auto baseline = baselineFor(keyboard, *current);
        auto plan = ScanCodeMaps::writes(baseline, *current, setup);
        if (!plan.ok()) return Failure{keyboard.node + " " + plan.error()};
        // Known as routed before any is written, so that a run killed halfway still finds them;
        // put back scan codes stop being routed only once they are written.
        auto during = baseline.routed;
        during.insert(plan->routed.begin(), plan->routed.end());
        keepRouted(keyboard, std::move(during));
        for (const auto& [scanCode, keyCode] : plan->writes) {
            auto written = setKey(node.fd(), scanCode, keyCode);
            if (!written.ok()) return Failure{keyboard.node + ": " + written.error()};
        }
        keepRouted(keyboard, std::move(plan->routed));
    }
    return std::monostate{};
}

}  // namespace tindlewave
