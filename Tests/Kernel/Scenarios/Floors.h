#pragma once

// Floors of our own for the timing scenarios: the plainest programs that do a job the program
// does, each in a process of its own (the scenario program started again, TW_KERNEL_FLOOR saying
// which), so that its processor time is its own. They run only inside the kernel tier.
//
// - pipeline NODE: grabs the keyboard NODE and writes each event it reads to a uinput keyboard of
//   its own ("Floor pipeline keyboard"): one thread, blocking reads, one write each read.
// - two-stage NODE: the same in the shape of a pipeline of two programs, a grabber writing what it
//   reads to a pipe and an emitter writing what it reads from the pipe to its keyboard ("Floor
//   two-stage keyboard"): two threads joined by a pipe (two processes would cost more, each switch
//   between them changing the address space).
// - hidpp HIDRAW CONTROL: diverts CONTROL (the reprogrammable controls feature, 0x1B04) of the
//   HID++ device at HIDRAW, and writes KEY_4 down at its press and up at its release to a uinput
//   keyboard of its own ("Floor HID++ keyboard"): one thread, blocking reads. It puts the control
//   back when ended by SIGTERM.
//
// Each prints "ready" once set up, and what went wrong otherwise.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace tindlewave::kernel {

inline constexpr const char* pipelineFloorKeyboard = "Floor pipeline keyboard";
inline constexpr const char* twoStageFloorKeyboard = "Floor two-stage keyboard";
inline constexpr const char* hidppFloorKeyboard = "Floor HID++ keyboard";

class FloorProcess {
  public:
    static FloorProcess pipeline(const std::string& keyboardNode);
    static FloorProcess twoStage(const std::string& keyboardNode);
    static FloorProcess hidpp(const std::string& hidrawNode, std::uint16_t control);
    ~FloorProcess();
    FloorProcess(FloorProcess&& other) noexcept;
    FloorProcess& operator=(FloorProcess&&) = delete;
    FloorProcess(const FloorProcess&) = delete;
    FloorProcess& operator=(const FloorProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Waits until it printed "ready" (false: it ended or said nothing in time).
    bool waitReady(std::chrono::milliseconds limit = std::chrono::seconds(60));
    // Ends it with SIGTERM and waits for its end (SIGKILL when it does not end in time): its exit
    // status, or -1.
    int stop();
    // What it printed so far.
    const std::string& output();

  private:
    FloorProcess(const std::string& kind, const std::string& node, const std::string& control);
    pid_t pid_ = -1;
    int output_ = -1;
    std::string seen_;
};

}  // namespace tindlewave::kernel
