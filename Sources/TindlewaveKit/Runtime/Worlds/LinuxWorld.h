#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Platform/Linux/Desktop/DesktopHotKeys.h"
#include "Platform/Linux/Desktop/XdgAutostart.h"
#include "Platform/Linux/KeyMap/EvdevKeyMap.h"
#include "Platform/Linux/Devices/LinuxDeviceRegistry.h"
#include "Platform/Linux/Input/LinuxEventSystem.h"
#include "Platform/Linux/HID/LinuxHIDSystem.h"
#include "Platform/Linux/Permissions/NodePermissionGrants.h"
#include "Runtime/Executors/RunLoopExecutor.h"
#include "Runtime/KeyMap/KeyMapWriter.h"

namespace tindlewave {

class Executor;
class WorkPool;

// The real desktop the programs run over by default on Linux: one device registry (udev, its
// monitor read on a thread of its own, so that udev's news of devices, the program's own among
// them, never waits behind the HID executor's work) shared by the HID system (hidraw) and the event system
// (evdev and uinput, on the tap executor), the key maps in the keyboards' own key tables, the
// desktop's own shortcuts, the grants read from the device nodes' permissions, and the login item
// (the session's autostart entry). Without
// devices or without access it still works, with nothing to drive: the grants, `problems()` and
// the hot-plug of the registry tell and follow what changes.
//
// Threads: made on any thread while the tap executor runs; destroyed after it (and whatever
// follows the registry) has stopped.
class LinuxWorld {
  public:
    explicit LinuxWorld(Executor& tap, WorkPool* pool = nullptr);
    ~LinuxWorld();
    LinuxWorld(const LinuxWorld&) = delete;
    LinuxWorld& operator=(const LinuxWorld&) = delete;

    // The writer's host: the key maps kept in process, run on `pool`.
    KeyMapHost keyMapHost() { return {.pool = pool_, .backend = &keyMap}; }
    // Why devices cannot be used now, each in words ("/dev/uinput: No such file or directory",
    // "no input devices (/dev/input is missing)"); empty when nothing stands in the way.
    std::vector<std::string> problems() const;

    // The keyboard event nodes the registry lists, with the ids and built-in flag of the interface
    // each belongs to (as the device hub matches keyboards).
    static std::vector<EvdevKeyMap::Keyboard> keyboards(const LinuxDeviceRegistry& registry);
    // The key maps' baselines: "keymap" in the programs' state folder ($XDG_STATE_HOME/tindlewave
    // or ~/.local/state/tindlewave), which outlives a logout as the kernel's tables do.
    static std::string keyMapFolder();

  private:
    RunLoopExecutor udev_;  // reads udev's monitor for the registry, which it outlives

  public:
    LinuxDeviceRegistry registry;
    LinuxHIDSystem hid;
    std::unique_ptr<LinuxEventSystem> eventSystem;  // made and followed on the tap executor
    LinuxEventSystem& events;
    EvdevKeyMap keyMap;
    DesktopHotKeys hotKeys;
    NodePermissionGrants grants;
    XdgAutostart loginItem;  // the autostart entry of the user's session

  private:
    WorkPool* pool_;
};

}  // namespace tindlewave
