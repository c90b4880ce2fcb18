#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Platform/KeyMapBackend.h"
#include "Platform/Linux/KeyMap/BaselineFolder.h"
#include "Platform/Linux/KeyMap/ScanCodeMap.h"

namespace tindlewave {

// Key routes kept in the keyboards' own kernel key tables: each keyboard event node that a
// matching text names is a service, remapped scan code by scan code (EVIOCSKEYCODE_V2), and read
// back from the whole table (listed by index). What a node holds is measured against its baseline,
// the table as first seen in this boot with the scan codes routed over it, kept in a
// BaselineFolder under the boot id and the node's input name (unique per boot), so that routes
// left by a run that crashed are found and undone; the files of nodes that are gone are removed. A stored baseline is taken only when it lists
// exactly the node's scan codes. An empty set-up puts every routed scan code back and leaves the
// others as they are. Needs read access to the nodes only.
//
// Thread-safe; calls for different keyboards may run at once.
class EvdevKeyMap final : public KeyMapBackend {
  public:
    // A keyboard event node, as the device registry knows it.
    struct Keyboard {
        std::uint64_t service = 0;  // the id the node is known by as an event service
        std::string node;           // "/dev/input/event3"
        std::string input;          // "input7", the input device the node belongs to
        std::uint16_t vendor = 0;
        std::uint16_t product = 0;
        bool builtIn = false;
        bool operator==(const Keyboard&) const = default;
    };
    // The keyboard event nodes present now; called on the caller's thread.
    using Keyboards = std::function<std::vector<Keyboard>()>;

    EvdevKeyMap(Keyboards keyboards, std::string baselineFolder,
                std::string bootID = currentBootID());

    Result<Services, Failure> read(std::string_view matching) override;
    Result<std::monostate, Failure> set(std::string_view matching,
                                        const KeyMapSetup& setup) override;

    // The kernel's id of this boot (empty when it cannot be read).
    static std::string currentBootID();

    // A node's whole key table, listed by index; the failure names the node.
    static Result<ScanCodeMap, std::string> dump(int fd);
    // Gives one scan code a new key; the failure is the system's words.
    static Result<std::monostate, std::string> setKey(int fd, std::uint32_t scanCode,
                                                      std::uint16_t keyCode);

  private:
    std::vector<Keyboard> matching(std::string_view text, std::string& problem) const;
    ScanCodeBaseline baselineFor(const Keyboard& keyboard, const ScanCodeMap& current);
    // Keeps the node's routed scan codes, in memory and in its file.
    void keepRouted(const Keyboard& keyboard, std::set<std::uint32_t> routed);

    Keyboards keyboards_;
    BaselineFolder folder_;
    std::string bootID_;
    std::mutex mutex_;
    std::map<std::string, ScanCodeBaseline> baselines_;  // by input name
};

}  // namespace tindlewave
