#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Core/Keys/KeyRoutes.h"
#include "Model/Result.h"
#include "Platform/KeyMapBackend.h"

namespace tindlewave {

// One keyboard event node's key table, scan code to evdev key code, as the kernel lists it by
// index. HID keyboards number their scan codes 0x7xxxx by usage; others (a laptop's built-in
// keyboard) by their own scheme, which is learnt from the table itself, never written down here.
using ScanCodeMap = std::map<std::uint32_t, std::uint16_t>;

// A node's baseline: its table as first seen in this boot, and the scan codes the program may
// have moved off it (every scan code a route of its ever took, until it is put back). Only those
// scan codes take part in what the node is said to hold and in what a set-up puts back, so keys
// that hwdb or another tool changed since are left as they are.
struct ScanCodeBaseline {
    ScanCodeMap table;
    std::set<std::uint32_t> routed;
    bool operator==(const ScanCodeBaseline&) const = default;
};

// The I/O-free half of keeping key routes in a keyboard's own key table: the baseline a node is
// measured against, what it holds over it, and the writes that make it hold a set-up.
namespace ScanCodeMaps {

// The baseline to keep for a node seen for the first time: its table as it is, except that a HID
// scan code that now gives a carrier key (F13 to F20) counts from the kernel's default for its
// usage (and as routed), so that a carrier route left by an earlier run shows even without that
// run's baseline.
ScanCodeBaseline baselineOf(const ScanCodeMap& current);

// Whether a stored baseline can be the node's: it lists exactly the node's scan codes (a node's
// set of scan codes is fixed while it exists), and routes none it does not list.
bool fits(const ScanCodeBaseline& baseline, const ScanCodeMap& current);

// What the node holds over its baseline: a pair for each routed scan code whose key differs, from
// the baseline key's usage to the current key's (0x7_0000_0000 + usage); keys without a
// keyboard-page usage give no pair.
KeyMapBackend::Pairs pairs(const ScanCodeBaseline& baseline, const ScanCodeMap& current);

// The scan codes to set, with their new key codes, so that the node holds exactly the set-up's
// routes over its baseline: each route's source is found by its key in the baseline and given the
// target's key; every other routed scan code goes back to its baseline key (an empty set-up
// undoes every route). `routed` is what the baseline routes once the writes are done. A route
// whose source key the node does not have, or whose target has no key code, is refused with
// words such as "has no key for usage 0x39".
using Writes = std::vector<std::pair<std::uint32_t, std::uint16_t>>;
struct Plan {
    Writes writes;
    std::set<std::uint32_t> routed;
};
Result<Plan, std::string> writes(const ScanCodeBaseline& baseline, const ScanCodeMap& current,
                                 const KeyMapSetup& setup);

// The stored form of a baseline, tied to one boot of the machine (the kernel's boot id): a
// baseline of another boot, any baseline while the boot id is unknown (empty), or text that
// cannot be read, reads as none.
std::string encode(const ScanCodeBaseline& baseline, std::string_view bootID);
std::optional<ScanCodeBaseline> decode(std::string_view text, std::string_view bootID);

}  // namespace ScanCodeMaps

// Which keyboards a key-map matching text names (see hidutilKeyboardMatching): the built-in
// keyboard, or the keyboards of one vendor and product.
struct KeyboardMatching {
    bool builtIn = false;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;

    // None for a text that names neither.
    static std::optional<KeyboardMatching> parse(std::string_view text);
    bool operator==(const KeyboardMatching&) const = default;
};

}  // namespace tindlewave
