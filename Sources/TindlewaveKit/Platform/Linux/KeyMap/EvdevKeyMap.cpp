#include "Platform/Linux/KeyMap/EvdevKeyMap.h"

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Platform/Linux/System/Files.h"

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
    ~OpenNode() {
        if (fd_ >= 0) ::close(fd_);
    }
    OpenNode(const OpenNode&) = delete;
    OpenNode& operator=(const OpenNode&) = delete;
    int fd() const { return fd_; }
    int error() const { return error_; }

  private:
    int fd_;
    int error_;
};

}  // namespace

EvdevKeyMap::EvdevKeyMap(Keyboards keyboards, std::string baselineFolder, std::string bootID)
    : keyboards_(std::move(keyboards)), folder_(std::move(baselineFolder)), bootID_(std::move(bootID)) {}

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

ScanCodeMap EvdevKeyMap::baselineFor(const Keyboard& keyboard, const ScanCodeMap& current) {
    std::lock_guard lock(mutex_);
    if (auto known = baselines_.find(keyboard.input); known != baselines_.end()) return known->second;
    const std::string file = folder_ + "/" + keyboard.input + ".json";
    std::optional<ScanCodeMap> baseline;
    if (auto stored = files::read(file); stored.ok()) baseline = ScanCodeMaps::decode(*stored, bootID_);
    if (!baseline) {
        baseline = ScanCodeMaps::baselineOf(current);
        // Without the file a crash loses only the way back from the kernel's defaults; the
        // routes still work, so a folder that cannot be written is no failure.
        if (files::makeFolders(folder_).ok())
            (void)files::writeAtomically(file, ScanCodeMaps::encode(*baseline, bootID_));
    }
    baselines_[keyboard.input] = *baseline;
    return *baseline;
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
        auto changes = ScanCodeMaps::writes(baselineFor(keyboard, *current), *current, setup);
        if (!changes.ok()) return Failure{keyboard.node + " " + changes.error()};
        for (const auto& [scanCode, keyCode] : *changes) {
            auto written = setKey(node.fd(), scanCode, keyCode);
            if (!written.ok()) return Failure{keyboard.node + ": " + written.error()};
        }
    }
    return std::monostate{};
}

}  // namespace tindlewave
