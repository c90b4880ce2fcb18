#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Model/Result.h"

namespace tindlewave {

// What a virtual HID++ 2.0 mouse is made of: its feature table, its reprogrammable controls with
// the flag bytes of their control-info replies, and its thumb wheel. Recorded real mice load into
// this record (loadVirtualMouse); tests also build made-up ones with `basic`.
struct VirtualMouseDescription {
    // Feature ids the mouse models beyond the table itself.
    static constexpr std::uint16_t rootFeature = 0x0000;
    static constexpr std::uint16_t reprogControlsFeature = 0x1B04;
    static constexpr std::uint16_t wirelessStatusFeature = 0x1D4B;
    static constexpr std::uint16_t thumbWheelFeature = 0x2150;

    // Control-info flag bits (byte 4 of the reply) and additional flag bits (byte 8).
    static constexpr std::uint8_t mouseButtonFlag = 0x01;
    static constexpr std::uint8_t reprogrammableFlag = 0x10;
    static constexpr std::uint8_t divertableFlag = 0x20;
    static constexpr std::uint8_t virtualFlag = 0x80;
    static constexpr std::uint8_t rawXYFlag = 0x01;

    struct Feature {
        std::uint16_t id = 0;
        std::uint8_t flags = 0;
        bool operator==(const Feature&) const = default;
    };

    struct Control {
        std::uint16_t cid = 0;
        std::uint16_t tid = 0;
        std::uint8_t flags = 0;
        std::uint8_t additionalFlags = 0;
        std::uint8_t pos = 0;
        std::uint8_t group = 0;
        std::uint8_t groupMask = 0;

        bool divertable() const { return (flags & divertableFlag) != 0; }
        bool rawXY() const { return (additionalFlags & rawXYFlag) != 0; }
        bool isVirtual() const { return (flags & virtualFlag) != 0; }
        bool operator==(const Control&) const = default;
    };

    // The thumb wheel's fixed properties (the resolutions of its info reply).
    struct ThumbWheel {
        std::uint16_t nativeResolution = 18;
        std::uint16_t divertedResolution = 120;
        bool operator==(const ThumbWheel&) const = default;
    };

    std::string name;
    std::uint16_t vendorID = 0x046D;
    std::uint16_t productID = 0;
    // A receiver's pairing slots: device indices 1 to 6.
    static constexpr unsigned lastReceiverSlot = 6;

    // How the mouse is attached: "usb" or "bluetooth" directly, or "receiver": paired to a
    // receiver, at a slot (the recording's "deviceIndex", 1 when it has none).
    std::string connection = "usb";
    std::uint8_t deviceIndex = 0xFF;  // 0xFF: attached directly (Bluetooth or USB)
    std::uint8_t protocolMajor = 4;
    std::uint8_t protocolMinor = 5;
    std::vector<Feature> features;         // feature index = position; index 0 is the root
    std::vector<Control> controls;         // the device's own order (control index = position)
    std::optional<ThumbWheel> thumbWheel;  // present exactly when the table holds 0x2150

    // The index of a feature id in the table, or 0 when the mouse lacks it (index 0 is the root,
    // which every mouse has).
    std::uint8_t indexOf(std::uint16_t featureId) const;

    // A made-up mouse: root at 0, two filler features, then the reprogrammable controls (when
    // there are controls), wireless status and the thumb wheel (when asked for), in that order.
    static VirtualMouseDescription basic(std::vector<Control> controls, bool thumbWheel);

    bool operator==(const VirtualMouseDescription&) const = default;
};

// Reads a recorded mouse (one JSON file of the device recordings). Errors name the file and the
// field, e.g. "…/mouse.json: controls[3].cid: expected a hexadecimal text such as \"0x52\"".
Result<VirtualMouseDescription, std::string> loadVirtualMouse(const std::string& path);

// Parses the same format from text; `origin` names the source in error messages.
Result<VirtualMouseDescription, std::string> parseVirtualMouse(const std::string& text,
                                                               const std::string& origin);

// The recorded mice of a folder: every *.json file in it, sorted by name. An unreadable folder
// gives an error naming it.
Result<std::vector<std::string>, std::string> recordedMouseFiles(const std::string& folder);

// Where a program finds the recorded mice that ship with it, given its executable's path:
// share/tindlewave/devices beside the executable (the build folder, where the build copies them),
// then the same under its install prefix (the executable in <prefix>/bin).
std::vector<std::string> recordedMiceFolderCandidates(const std::string& program);

// Why the recordings were not found: `text` names every place looked at.
struct MissingRecordings {
    std::string text;
};

// The first of those folders that exists for the running program (found through
// /proc/self/exe), never the working folder.
Result<std::string, MissingRecordings> shippedRecordedMiceFolder();

}  // namespace tindlewave
