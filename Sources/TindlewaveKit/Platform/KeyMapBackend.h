#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <variant>

#include "Core/Keys/KeyRoutes.h"
#include "Model/Result.h"

namespace tindlewave {

// Where a keyboard's key remapping lives when the program keeps it itself instead of handing it
// to hidutil: the keyboard services that a matching text selects, each holding a set of
// (source, destination) pairs on the keyboard page (0x7_0000_0000 + usage). The key-map writer
// runs its steps (read, write, read back and compare) over it. Both calls block and may run on
// any thread; calls for one matching text never overlap.
class KeyMapBackend {
  public:
    using Pairs = std::set<KeyMapSetup::Pair>;
    // Service id to the pairs it holds; a service with no remapping has an empty set.
    using Services = std::map<std::uint64_t, Pairs>;
    // Why a step could not be done, in words that name the device ("/dev/input/event3: …").
    struct Failure {
        std::string reason;
        bool operator==(const Failure&) const = default;
    };

    virtual ~KeyMapBackend() = default;

    // What every keyboard service matching the text holds.
    virtual Result<Services, Failure> read(std::string_view matching) = 0;
    // Makes every matching service hold exactly the set-up's routes (an empty set-up undoes all);
    // no matching service is no failure here (the read-back tells).
    virtual Result<std::monostate, Failure> set(std::string_view matching,
                                                const KeyMapSetup& setup) = 0;
};

}  // namespace tindlewave
