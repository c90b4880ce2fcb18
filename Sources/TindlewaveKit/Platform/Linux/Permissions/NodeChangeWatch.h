#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Cancellable.h"

namespace tindlewave {

class Executor;
class LinuxDeviceRegistry;

// The folders of the nodes the grants are about: uinput and the hidraw nodes, the event nodes.
std::vector<std::string> grantNodeFolders();

// Calls `changed` on `executor` whenever what the grants read from the device nodes may have
// changed: an entry of one of `folders` created, removed, moved or given new attributes (mode,
// owner, ACLs; inotify, which reads and writes of the nodes do not wake), or any change of
// `registry` (a node that enters or leaves the lists). While nothing changes, nothing runs.
// Cancelling the handle, from any thread, lets go of `changed`; no call begins after it. None when
// no folder can be watched (no inotify instance, or an executor without descriptor watches).
std::optional<Subscription> watchNodeChanges(Executor& executor, LinuxDeviceRegistry& registry,
                                             std::function<void()> changed,
                                             const std::vector<std::string>& folders = grantNodeFolders());

}  // namespace tindlewave
