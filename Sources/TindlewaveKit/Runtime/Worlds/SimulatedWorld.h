#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Model/Result.h"
#include "Platform/Linux/System/SystemError.h"
#include "Platform/Simulated/Input/SimulatedEventSystem.h"
#include "Platform/Simulated/HID/SimulatedHIDWorld.h"
#include "Platform/Simulated/KeyMap/SimulatedHidutilState.h"
#include "Platform/Simulated/Permissions/SimulatedPermissionGrants.h"
#include "Platform/Simulated/Desktop/SimulatedLoginItem.h"
#include "Platform/Simulated/Desktop/SimulatedSymbolicHotKeys.h"
#include "Platform/Simulated/HID/VirtualMouseDescription.h"
#include "Runtime/KeyMap/KeyMapWriter.h"

namespace tindlewave {

class Executor;

// The desktop the programs run over on Linux, where no real device is touched: the simulated HID
// world on the HID executor, the event system on the tap executor, permission grants (granted),
// the symbolic hot-key table, the stand-in hidutil with its state file and a login item in memory. One assembly for every
// program that runs the engine over simulated devices.
//
// Make it before any thread that may run hidutil starts: it exports the state file's path for the
// stand-in tool. It must outlive the engine made over it. Attaching and detaching may be done from
// any one thread (the owner's); what reads a device's state runs on the HID executor.
class SimulatedWorld {
  public:
    // One attached device, named for what the quit left on it.
    struct Device {
        std::string name;
        SimulatedHIDWorld::Attached attached;
        std::vector<std::uint16_t> controls;  // a HID++ mouse's reprogrammable controls
        bool isHidppMouse = false;
        std::optional<std::uint8_t> receiverSlot;  // a HID++ mouse paired to a receiver
        bool isKeyboard = false;
        bool builtIn = false;
        std::uint16_t vendor = 0;
        std::uint16_t product = 0;
    };

    // `hidutilState`: the stand-in hidutil's state file (reset here); `hidutil`: the tool itself.
    SimulatedWorld(Executor& hid, Executor& tap, std::string hidutilState, KeyMapHost hidutil);
    SimulatedWorld(const SimulatedWorld&) = delete;
    SimulatedWorld& operator=(const SimulatedWorld&) = delete;

    // The programs' runtime folder: $XDG_RUNTIME_DIR/tindlewave when that is an absolute path,
    // else a folder named for this user in the temporary folder. Not made here.
    static std::string runtimeFolder();

    // The stand-in hidutil's state file of one run of a program. With a runtime directory it is
    // in the runtime folder, made private first (files::privateFolder: a folder there that is not
    // the user's alone is not used), and stays. Without one it is in a private folder of this
    // run's own in the temporary folder (tindlewave-<uid>-<pid>-XXXXXX, files::runFolder), which
    // goes with everything in it when this is destroyed, or at the next start after a kill (any
    // start, with a runtime directory or without: files::removeEndedRuns), so runs leave nothing
    // in the shared temporary folder.
    class StateFile {
      public:
        StateFile(std::string path, std::string ownFolder);
        StateFile(StateFile&& other) noexcept;
        StateFile& operator=(StateFile&& other) noexcept;
        ~StateFile();
        const std::string& path() const { return path_; }

      private:
        void removeOwnFolder();

        std::string path_;
        std::string ownFolder_;  // removed at the end; empty when there is none
    };
    // The state file, or why its folder could not be made ("cannot make <folder>: <reason>"); and
    // the tool beside the running program (in the build folder; an installed program's is in
    // <prefix>/libexec/tindlewave beside its <prefix>/bin).
    static Result<StateFile, SystemError> defaultHidutilState();
    static KeyMapHost hidutilBesideProgram();
    // The recorded MX Master 3 that ships with the program, or why it was not found.
    static Result<std::string, MissingRecordings> defaultMouse();

    // Plugs in a recorded mouse; the error names the file and what is wrong with it.
    Result<Device, std::string> attachMouse(const std::string& recording);
    Device attachBuiltInKeyboard();
    Device attachExternalKeyboard(std::uint16_t vendor, std::uint16_t product);
    // Unplugs a device attached here (a device not attached, or already gone, changes nothing).
    void detach(const Device& device);
    // The devices attached and not detached, in the order they were attached.
    const std::vector<Device>& devices() const { return devices_; }

    // What of a HID++ mouse's set-up is not native: each diverted control as "0xC3" (with " raw
    // movement" when it also reports raw movement) and "thumb wheel" when that is diverted. On
    // the HID executor; empty for devices without HID++ and for an unplugged mouse (it starts
    // native when plugged in again).
    std::vector<std::string> leftOver(const Device& device);
    bool isNative(const Device& device) { return leftOver(device).empty(); }
    // The key mappings the stand-in hidutil still holds for a keyboard's services.
    std::size_t keyMappingsLeft(const Device& device) const;
    // The usage a keyboard sends for one of its keys: where the key map the stand-in hidutil holds
    // for the keyboard's services takes the key, else the key itself.
    HIDUsage keySent(const Device& keyboard, HIDUsage key) const;

    SimulatedPermissionGrants grants;
    SimulatedHidutilState hidutilState;
    KeyMapHost hidutil;
    SimulatedHIDWorld hid;
    SimulatedEventSystem events;
    SimulatedSymbolicHotKeys hotKeys;
    SimulatedLoginItem loginItem;  // in memory: a simulated run writes no autostart entry

  private:
    Device add(SimulatedDevice made, Device device);
    std::uint32_t nextLocation();

    std::vector<Device> devices_;
    std::uint32_t nextLocation_ = 0x14100000;
};

}  // namespace tindlewave
