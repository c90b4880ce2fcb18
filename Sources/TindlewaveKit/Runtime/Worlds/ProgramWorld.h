#pragma once

#include <memory>
#include <string>

#include "Runtime/KeyMap/KeyMapWriter.h"

namespace tindlewave {

class EventSystem;
class Executor;
class HIDSystem;
class LinuxWorld;
class LoginItemService;
class PermissionGrants;
class SimulatedWorld;
class SymbolicHotKeys;
class WorkPool;

// The world a program runs the engine over: the real devices of this machine (the default), or
// the simulated desktop (`--simulate`). The services the engine and the performer need, whichever
// it is. Made while both executors run; destroyed after both have stopped.
class ProgramWorld {
  public:
    // Over the simulated desktop, with the stand-in hidutil `hidutil` and its state file.
    static ProgramWorld simulated(Executor& hid, Executor& tap, std::string hidutilState,
                                  KeyMapHost hidutil);
    // Over this machine's devices; key maps are written on `pool` (null: the shared pool). `hid` is
    // not used: the real world reads udev on a thread of its own.
    static ProgramWorld real(Executor& hid, Executor& tap, WorkPool* pool = nullptr);

    ProgramWorld(ProgramWorld&&) noexcept;
    ~ProgramWorld();

    // The one that is made; the other is null.
    SimulatedWorld* simulatedWorld() const { return simulated_.get(); }
    LinuxWorld* linuxWorld() const { return real_.get(); }

    HIDSystem& hidSystem() const;
    EventSystem& events() const;
    PermissionGrants& grants() const;
    const SymbolicHotKeys& hotKeys() const;
    // Whether the program starts at login: the session's autostart entry over this machine's
    // devices; in memory over the simulated desktop, which touches nothing of the session.
    LoginItemService& loginItem() const;
    KeyMapHost keyMap() const;

  private:
    ProgramWorld() = default;
    std::unique_ptr<SimulatedWorld> simulated_;
    std::unique_ptr<LinuxWorld> real_;
};

}  // namespace tindlewave
