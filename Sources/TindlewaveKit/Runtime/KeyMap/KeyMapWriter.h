#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "Core/Keys/KeyRoutes.h"
#include "Model/Result.h"
#include "Runtime/KeyMap/HidutilReadback.h"
#include "Runtime/KeyMap/KeyMapError.h"

namespace tindlewave {

class Executor;
class KeyMapBackend;
class WorkPool;

// What stands behind the writer's steps, and the pool whose threads wait for them: hidutil (the
// program named here, run as a child process) or, when `backend` is set, the program's own
// in-process key map (no child process runs then).
struct KeyMapHost {
    std::string executable = "/usr/bin/hidutil";
    WorkPool* pool = nullptr;           // null: ThreadPool::shared()
    KeyMapBackend* backend = nullptr;  // must outlive every call made with this host
};

// Sets and reads the key remapping of a device's keyboard services: with hidutil (the only place
// that runs it) or over an in-process backend, through the same steps (read; write, read back and
// compare). Each call runs on the pool and hands its result to `done` as a job of `back`.
// Calls for the same matching text run one at a time, in the order they are made, whoever makes
// them; a call waiting for its turn holds no pool thread, so calls for different keyboards run
// side by side even while one keyboard's hidutil hangs.
namespace KeyMapWriter {

using Pairs = std::set<KeyMapSetup::Pair>;

// hidutil's exit status and what it printed (as UTF-8, invalid bytes replaced).
struct HidutilRun {
    std::int32_t status;
    std::string output;
    bool operator==(const HidutilRun&) const = default;
};

// What the keyboard services matching the text hold: the union over all of them.
void read(const KeyMapHost& host, Executor& back, std::string matching,
          std::function<void(Result<Pairs, KeyMapError>)> done);

// Writes the set-up and checks by reading back that every matching service took exactly it.
void write(const KeyMapHost& host, Executor& back, KeyMapSetup setup, std::string matching,
           std::function<void(Result<std::monostate, KeyMapError>)> done);

// The blocking steps, for the pool thread (and tests); unlike read and write, they are not queued
// per keyboard. hidutil is killed after 3 s, or at once when it prints more than 4 MiB (which
// reads as hidutilFailed with status -1); a backend's failure reads as deviceFailed.
Result<HidutilRun, KeyMapError> hidutil(const KeyMapHost& host,
                                        const std::vector<std::string>& arguments);
Result<HidutilReadback::Services, KeyMapError> readBack(const KeyMapHost& host,
                                                        const std::string& matching);
Result<Pairs, KeyMapError> readNow(const KeyMapHost& host, const std::string& matching);
Result<std::monostate, KeyMapError> writeNow(const KeyMapHost& host, const KeyMapSetup& setup,
                                             const std::string& matching);

// The pairs a keyboard reports once `setup` is in place.
Pairs expectedPairs(const KeyMapSetup& setup);

}  // namespace KeyMapWriter

}  // namespace tindlewave
