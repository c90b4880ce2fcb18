#pragma once

#include <QApplication>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "App/AppModel.h"
#include "Platform/Linux/System/UniqueFd.h"
#include "Runtime/EngineAssembly.h"
#include "Runtime/Stores/LogStore.h"
#include "Runtime/Worlds/DevicesLock.h"
#include "Runtime/Worlds/SimulatedWorld.h"
#include "Settings/Views/GeneralTab.h"
#include "Shell/EarlyEngineRun.h"
#include "Shell/PermissionGuide.h"
#include "Shell/QtMainExecutor.h"
#include "Shell/QtWorkspace.h"
#include "Shell/TerminationSignal.h"
#include "Shell/ToolkitEndGuard.h"
#include "Shell/ToolkitRuntimeFolder.h"

namespace tindlewave {

class QtScreens;
class QuitSequence;
class SecondStartServer;
class ShellSettingsWindow;
class TrayWatch;

// How the program was started: over which world, and which simulated devices it plugs in.
struct Launch {
    bool simulate = false;
    bool mouse = true;     // the recorded mouse that ships with the program (simulated world)
    bool keyboard = true;  // a built-in keyboard (simulated world)
    std::optional<SimulatedWorld::StateFile> hidutilState;  // the simulated world's; outlives it
    std::optional<DevicesLock> devicesLock;  // over this computer's devices: held while it runs
    // With the devices lock: where a second start asks for the window, or why it cannot.
    std::variant<std::monostate, UniqueFd, std::string> secondStarts;
    std::optional<std::string> othersFolders;  // folders of another user's the environment named
};

// The application as the program sets it up: disabled texts dimmed, its name and version, and
// kept running when its last window closes (the tray's menu stays).
class ProgramApplication final : public QApplication {
  public:
    ProgramApplication(int& argc, char** argv);
};

// The program on screen: its face (the status menu in the tray or on the window's tool bar, the
// settings window, the permission guide) over the engine's assembly, and the quit. Make it once,
// on the main thread, and run it there.
class WindowProgram {
  public:
    // Makes the assembly over the launch's world and begins the engine's run over the config
    // store (devices are set up while the toolkit is), then makes the application and the app
    // model, which takes the store and the run over, and starts the assembly on the main executor.
    WindowProgram(int argc, char** argv, Launch launch);
    ~WindowProgram();
    WindowProgram(const WindowProgram&) = delete;
    WindowProgram& operator=(const WindowProgram&) = delete;

    // Runs the event loop until the quit is done, then stops the assembly; the exit status.
    int run();

  private:
    // The app model's parts, and what it makes on demand.
    AppModel::Parts modelParts();
    std::unique_ptr<SettingsWindowView> makeSettingsWindow(SettingsModel& settings);
    GeneralActions generalActions();
    // The quit: the sequence over the engine, asked for by a signal, the session or the menu.
    void followQuitRequests();
    void requestQuit();
    // The first job of the event loop, step by step.
    void start();
    void announceStart();
    void attachSimulatedDevices();
    void takeUpDevices();
    void followTheTray();
    void carryTheMenuInTheWindow();
    void makeWindowWithMenu();
    void openWindowWithMenu();
    void showWindowNow();
    void answerSecondStarts();
    void takeSnapshots();

    HeldTerminationSignals heldSignals_;  // until termination_ is there
    int argc_;  // the application keeps a reference to it
    Launch launch_;
    Defaults& defaults_;
    EngineAssembly assembly_;
    Logger log_;
    ToolkitEndGuard toolkitEnd_;  // from before the engine's run until the quit is done
    EarlyEngineRun early_;
    ToolkitRuntimeFolder toolkitRuntime_;  // outlives the application
    ProgramApplication application_;
    QtMainExecutor main_;
    std::unique_ptr<QtScreens> screens_;
    QtWorkspace workspace_;
    PermissionGuide guide_;
    const bool hasTray_;
    bool menuInTray_;  // follows the tray when it appears or goes away after the start
    std::unique_ptr<TrayWatch> trayWatch_;
    std::unique_ptr<QuitSequence> quit_;
    ShellSettingsWindow* settingsWindow_ = nullptr;
    AppModel model_;
    TerminationSignal termination_;
    const std::optional<std::string> snapshots_;
    Subscription keyboardsWatch_;
    bool windowOpened_ = false;
    Subscription firstStatus_;
    TimerHandle windowTimer_;
    std::unique_ptr<SecondStartServer> secondStarts_;  // goes before the devices lock
};

}  // namespace tindlewave
