#pragma once

#include <deque>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Command.h"
#include "Options.h"
#include "Platform/Clock.h"
#include "LineReader.h"
#include "Printing.h"
#include "PrintingEventSystem.h"
#include "Runtime/EngineAssembly.h"
#include "Runtime/Stores/ConfigStore.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Stores/LogStore.h"
#include "Runtime/Worlds/SimulatedWorld.h"
#include "StandardInput.h"

namespace tindlewave::headless {

// Where the program keeps what it makes: the settings file, the fake hidutil and its state.
struct Places {
    std::string config;
    std::string hidutil;       // the stand-in hidutil beside the program
    std::string hidutilState;  // its state file, in the program's runtime folder
    std::string recordings;    // the shipped recorded mice (empty when not found)
};

// The recording a mouse option or command names: a path, or the file name of a recording shipped
// in `recordings` (with or without its ".json"); as given when no such recording is there.
std::string recordingPath(const std::string& given, const std::string& recordings);

// The headless program: its face, the command reader and printer, over the engine's assembly.
//
// Threads: the main executor (signals, commands, output streams, quitting), the assembly's (the
// HID and tap executors and the key maps' pool), the config store's own and the reader of
// standard input. The object itself is made and destroyed on the thread that calls run().
class Program {
  public:
    Program(Options options, Places places, int signalFd);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Starts everything, reads commands until the quit has finished, then stops and joins the
    // executors. The exit status: 0 after a clean quit.
    int run();

  private:
    // A device of the simulated world under the number the commands name it by.
    struct Device : SimulatedWorld::Device {
        int number = 0;
    };

    // Program.cpp: start and quit.
    void start();
    void startRun();
    void subscribeToEngine();
    void readScript();
    void readStandardInput();
    // The quit: shutdown, then the run cancelled, then what is left reported.
    void signalled();
    void quit(const std::string& why);
    void shutDown();
    void runEnded();
    void report(std::vector<std::string> lines);

    // Commands.cpp: commands, in order, one at a time: each command's effects are followed
    // through the executors (settle) before the next runs, and a wait holds the ones after it.
    void runPending();
    // The script's lines first, then standard input's, and what reads the line.
    std::optional<std::pair<LineReader::Line, const char*>> nextLine();
    void perform(const Command& command);
    // False (and says so) over the real devices, for a command that acts on simulated ones.
    bool simulating();
    void onEngine(std::function<void(Engine&)> call);
    // What works in either world.
    void perform(const Command::Help&);
    void perform(const Command::Devices&);
    void perform(const Command::Pause&);
    void perform(const Command::Resume&);
    void perform(const Command::Reapply&);
    void perform(const Command::Listen& listen);
    void perform(const Command::StopListening&);
    void perform(const Command::Wake&);
    void perform(const Command::Status&);
    void perform(const Command::WaitApplied& wait);
    void perform(const Command::Quit&);

    // Settling.cpp: following a command's effects, and waiting for the devices.
    void settle(Instant until);
    void settleOnHid(std::vector<RegistryID> mice, std::uint64_t before, Instant until);
    void settleOnTap(std::uint64_t before, Instant until);
    void settledOnce(std::uint64_t before, Instant until);
    std::uint64_t activity() const;
    void waitApplied(double seconds);
    void readWaitedFile();
    void checkWait();
    // Prints the wait's answer ("applied", "not applied in time", or the settings file's error)
    // and runs the commands held behind it.
    void waitEnded(const std::string& answer);

    // SimulatedDevices.cpp: the simulated world's devices and the commands that act on them.
    void attachMouse(const std::string& file);
    void attachKeyboard(const std::optional<DeviceMatch>& external);
    void listSimulatedDevices();
    const Device* device(int number);
    const Device* lastMouse(bool hidppOnly);
    void inject(Event event, bool fromKeyboard, double detents = 0);
    void reportSimulatedDevicesAtExit();
    void perform(const Command::AttachMouse& attach);
    void perform(const Command::AttachKeyboard& attach);
    void perform(const Command::Detach& detach);
    void perform(const Command::Press& press);
    void perform(const Command::Release& release);
    void perform(const Command::Move& move);
    void perform(const Command::Thumb& thumb);
    void perform(const Command::Reconnect& reconnect);
    void perform(const Command::Button& button);
    void perform(const Command::Drag& drag);
    void perform(const Command::Wheel& wheel);
    void perform(const Command::Key& key);
    void perform(const Command::Grant& grant);
    void perform(const Command::Mouse& mouse);
    void perform(const Command::MouseFault& fault);
    void perform(const Command::HidutilFault& fault);

    // RealDevices.cpp: this computer's devices.
    void startOverRealDevices();
    void listRealDevices();
    void reportRealDevicesAtExit();

    Options options_;
    Places places_;
    int signalFd_;
    Printer printer_;
    LogStore log_;
    Defaults defaults_;

    RunLoopExecutor main_{"app.tindlewave.main"};
    PrintingEventSystem* printing_ = nullptr;  // the assembly's, over the world's event system
    EngineAssembly assembly_;
    RunLoopExecutor& hid_ = assembly_.hid();
    RunLoopExecutor& tap_ = assembly_.tap();
    ProgramWorld& world_ = assembly_.world();
    SimulatedWorld* simulated_ = world_.simulatedWorld();  // null over the real devices
    Engine* engine_ = &assembly_.engine();
    ConfigStore store_;

    // Main executor only.
    FdWatch signalWatch_;
    std::vector<Subscription> outputs_;
    std::map<int, Device> devices_;
    int nextDevice_ = 1;
    std::set<int> buttonsDown_;
    std::deque<LineReader::Line> pending_;  // the script's lines not run yet
    bool settling_ = false;
    std::uint64_t outputsSeen_ = 0;  // statuses, actions and learned presses handled
    bool waiting_ = false;
    Instant waitUntil_{};
    TimerHandle waitTimer_;
    // The settings file when the wait began: the configuration it holds, or its error, which the
    // wait answers with once the status names it. Unreadable (not made yet, say: the store makes
    // it at its start), it is read again at each look, and the wait answers with the store's own
    // "cannot read the file" (or "cannot create", when the store could not make it) once the
    // status names one.
    bool waitUnreadable_ = false;
    std::optional<Config> waitFor_;
    std::optional<ConfigError> waitForError_;
    bool checking_ = false;  // a look at the engine is under way
    bool lookAgain_ = false;
    std::optional<EngineStatus> latest_;
    bool quitting_ = false;
    bool reported_ = false;
    std::shared_ptr<StandardInput> input_;
    std::promise<int> finished_;
    Cancellable run_;
    bool runRefused_ = false;  // the quit came first: the run never starts

    // HID executor only.
    TimerHandle settleHidTimer_;

    // Tap executor only.
    TimerHandle settleTapTimer_;
};

}  // namespace tindlewave::headless
