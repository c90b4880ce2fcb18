#pragma once

#include <string_view>

namespace tindlewave {

class RunLoopExecutor;

// The program's bundle identifier: the log subsystem and the prefix of its thread names.
inline constexpr std::string_view bundleIdentifier = "app.tindlewave";

// The executor of the engine, the device hub, HID++ sessions and slots ("app.tindlewave.hid"),
// made on first use and stopped and joined when the program exits.
RunLoopExecutor& hidExecutor();
// The executor of the event-tap host ("app.tindlewave.tap"), made on first use.
RunLoopExecutor& tapExecutor();

}  // namespace tindlewave
