#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Model/Result.h"
#include "Platform/Simulated/SimulatedEventSystem.h"
#include "Platform/Simulated/SimulatedHIDWorld.h"
#include "Platform/Simulated/SimulatedHidutilState.h"
#include "Platform/Simulated/SimulatedPermissionGrants.h"
#include "Platform/Simulated/SimulatedSymbolicHotKeys.h"
#include "Platform/Simulated/VirtualMouseDescription.h"
#include "Runtime/KeyMapWriter.h"

namespace tindlewave {

class Executor;

// The desktop the programs run over on Linux, where no real device is touched: the simulated HID
// world on the HID executor, the event system on the tap executor, permission grants (granted),
// the symbolic hot-key table and the stand-in hidutil with its state file. One assembly for every
// program that runs the engine over simulated devices.
//
// Make it before any thread that may run hidutil starts: it exports the state file's path for the
// stand-in tool. It must outlive the engine made over it.
class SimulatedWorld {
  public:
    // One attached device, named for what the quit left on it.
    struct Device {
        std::string name;
        SimulatedHIDWorld::Attached attached;
        std::vector<std::uint16_t> controls;  // a HID++ mouse's reprogrammable controls
        bool isHidppMouse = false;
    };

    // `hidutilState`: the stand-in hidutil's state file (reset here); `hidutil`: the tool itself.
    SimulatedWorld(Executor& hid, Executor& tap, std::string hidutilState, HidutilHost hidutil);
    SimulatedWorld(const SimulatedWorld&) = delete;
    SimulatedWorld& operator=(const SimulatedWorld&) = delete;

    // The state file in the user's runtime folder ($XDG_RUNTIME_DIR/tindlewave, else the
    // temporary folder) and the tool beside the running program.
    static std::string defaultHidutilState();
    static HidutilHost hidutilBesideProgram();
    // The recorded MX Master 3 that ships with the program, or why it was not found.
    static Result<std::string, MissingRecordings> defaultMouse();

    // Plugs in a recorded mouse; the error names the file and what is wrong with it.
    Result<Device, std::string> attachMouse(const std::string& recording);
    Device attachBuiltInKeyboard();
    const std::vector<Device>& devices() const { return devices_; }

    // Whether every HID++ control and the thumb wheel of `device` report natively (nothing
    // diverted, no raw movement). On the HID executor; true for devices without HID++.
    bool isNative(const Device& device);

    SimulatedPermissionGrants grants;
    SimulatedHidutilState hidutilState;
    HidutilHost hidutil;
    SimulatedHIDWorld hid;
    SimulatedEventSystem events;
    SimulatedSymbolicHotKeys hotKeys;

  private:
    std::vector<Device> devices_;
    std::uint32_t nextLocation_ = 1;
};

}  // namespace tindlewave
