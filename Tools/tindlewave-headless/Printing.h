#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "Command.h"
#include "Model/EngineStatus.h"
#include "Platform/EventSystem.h"

namespace tindlewave {
class VirtualHidppMouse;
}

namespace tindlewave::headless {

// Whole lines to standard output from any thread, never interleaved. Texts come from the settings
// file and the recordings too: they are written as the log's terminal mirror writes its messages
// (terminalText: a line break as "\n"), so no text can make a line of its own.
class Printer {
  public:
    void line(std::string_view text);
    // Each line of a text that has several (the help).
    void lines(std::string_view text);
    // Lines written so far.
    std::uint64_t count() const { return count_.load(); }

  private:
    std::mutex mutex_;
    std::atomic<std::uint64_t> count_{0};
};


// The engine's status in one line: run state, grants, tap, then each device's state.
std::string statusLine(const EngineStatus& status);
// A posted event: its type, level and the fields that matter for it; a key's modifiers by the
// names of the world the texts speak of (WorldTexts), beside its flags.
std::string postedLine(const Event& event, EventLevel level);
// What applications received from an input event, in the same form; or that a tap kept it.
std::string receivedLine(const std::optional<Event>& event);
// A simulated HID++ mouse's reporting: each control diverted or native, then its thumb wheel.
std::string mouseLine(int number, const VirtualHidppMouse& mouse);
// What a fault command set on device `number`.
std::string mouseFaultLine(int number, const Command::MouseFault& fault);

}  // namespace tindlewave::headless
