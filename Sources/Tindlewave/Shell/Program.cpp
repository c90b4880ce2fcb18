#include "Shell/Program.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/AppModel.h"
#include "App/EngineAdapter.h"
#include "App/QuitSequence.h"
#include "Platform/Clock.h"
#include "Platform/Linux/System/Files.h"
#include "Runtime/EngineAssembly.h"
#include "Runtime/Executors/Actors.h"
#include "Runtime/Stores/ConfigStore.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Worlds/DeviceCheck.h"
#include "Runtime/Stores/LogStore.h"
#include "Runtime/Permissions.h"
#include "Runtime/Worlds/LinuxWorld.h"
#include "Runtime/Worlds/WorldTexts.h"
#include "Settings/Model/GeneralTexts.h"
#include "Platform/Simulated/HID/VirtualMouseDescription.h"
#include "Runtime/Worlds/SimulatedWorld.h"
#include "Runtime/Executors/ThreadPool.h"
#include "Settings/Model/BuildInfo.h"
#include "Settings/Model/ConfigFile.h"
#include "Settings/Model/SettingsModel.h"
#include "Platform/Linux/Desktop/XdgAutostart.h"
#include "Settings/Views/SettingsTabs.h"
#include "Settings/Views/WindowPicture.h"
#include "Shell/FeedUpdater.h"
#include "Shell/PermissionGuide.h"
#include "Shell/QtMainExecutor.h"
#include "Shell/QtScreens.h"
#include "Shell/QtWorkspace.h"
#include "Shell/ShellViews.h"
#include "Shell/StatusMenu.h"
#include "Shell/TerminationSignal.h"
#include "Shell/TrayWatch.h"

namespace tindlewave {

namespace {
constexpr auto windowAtTheLatest = std::chrono::milliseconds(500);

// "-snapshotSettings <folder>" on the command line stands for the user default of one run;
// without it the stored default counts.
std::optional<std::string> snapshotFolder(const QStringList& arguments, Defaults& defaults) {
    const auto at = arguments.indexOf("-snapshotSettings");
    if (at >= 0 && at + 1 < arguments.size()) return arguments[at + 1].toStdString();
    return defaults.string("snapshotSettings");
}

bool hasArgument(int argc, char** argv, const char* argument) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], argument) == 0) return true;
    return false;
}

// Plugs in what the program works with on Linux, where no real device is touched: the recorded
// mouse that ships with the program and a built-in keyboard, each unless the launch says not to.
void attachDevices(SimulatedWorld& world, bool mouse, bool keyboard, Logger& log) {
    if (mouse) {
        auto recording = SimulatedWorld::defaultMouse();
        auto attached = recording.ok()
                            ? world.attachMouse(*recording)
                            : Result<SimulatedWorld::Device, std::string>(recording.error().text);
        if (attached.ok())
            log.log(LogLevel::defaultLevel, "attached the simulated mouse " + attached->name);
        else
            log.log(LogLevel::error, "cannot attach the simulated mouse: " + attached.error());
    }
    if (keyboard) world.attachBuiltInKeyboard();
}

// Says in the log and on standard error: a first start from a terminal sees it there once, as
// the log's own mirror when standard error is a terminal, else printed here.
void sayAtStart(Logger& log, LogLevel level, const std::string& line) {
    log.log(level, line);
    if (::isatty(STDERR_FILENO) != 1) std::fprintf(stderr, "tindlewave: %s\n", line.c_str());
}

// Over this machine's devices the program runs all the same without devices or access; the
// permission card and the guide say what to install, and devices are taken up once access comes.
// Said in the terminal too: a first start from it should tell what to do at once. The keyboards'
// rule is offered once the configuration uses keyboards; a change to that is said once, with what
// it needs, while the returned subscription lasts.
Subscription startOverRealDevices(LinuxWorld& real, AppModel& model, Logger& log) {
    for (const auto& problem : real.problems()) sayAtStart(log, LogLevel::error, "cannot use devices: " + problem);
    for (const auto& line : GeneralTexts::deviceRemedies(real.grants.remedies()))
        sayAtStart(log, LogLevel::defaultLevel, line);
    return model.settings().observe([&model, &real, &log](SettingsField field) {
        if (field != SettingsField::snapshot) return;
        const auto& snapshot = model.settings().snapshot();
        if (!snapshot || !snapshot->config) return;
        const bool needed = NodePermissionGrants::usesKeyboards(*snapshot->config);
        if (needed == real.grants.keyboardsNeeded()) return;
        real.grants.setKeyboardsNeeded(needed);
        if (needed && real.grants.remedies().installKeyboardRule)
            sayAtStart(log, LogLevel::defaultLevel, GeneralTexts::deviceRemedies({.installKeyboardRule = true}).front());
    });
}

// After the quit, what each simulated HID++ mouse was left with.
void logWhatTheMiceWereLeft(SimulatedWorld& simulated, Logger& log) {
    for (const auto& device : simulated.devices())
        if (device.isHidppMouse)
            log.log(LogLevel::defaultLevel, "at quit, " + device.name + " was left " +
                                                (simulated.isNative(device) ? "native" : "diverted"));
}

// Without a runtime directory the toolkit makes one of its own in the temporary folder
// (runtime-<user>, with a warning). When this run made it, it goes at quit if it is still empty.
class ToolkitRuntimeFolder {
  public:
    ToolkitRuntimeFolder() {
        if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) return;
        passwd entry{};
        passwd* found = nullptr;
        char buffer[4096];
        const std::string user =
            ::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found
                ? std::string(found->pw_name)
                : std::to_string(::getuid());
        path_ = QDir::tempPath().toStdString() + "/runtime-" + user;
        struct stat info {};
        if (::lstat(path_.c_str(), &info) == 0) path_.clear();  // not this run's
    }
    ~ToolkitRuntimeFolder() {
        if (!path_.empty()) ::rmdir(path_.c_str());
    }
    ToolkitRuntimeFolder(const ToolkitRuntimeFolder&) = delete;
    ToolkitRuntimeFolder& operator=(const ToolkitRuntimeFolder&) = delete;

  private:
    std::string path_;
};

}  // namespace

int runProgram(int argc, char** argv) {
    // A check of this machine's devices, printed for the user; no window is opened.
    if (hasArgument(argc, argv, "--check-devices")) {
        const auto check = DeviceCheck::run();
        std::fputs(check.text.c_str(), stdout);
        return check.status;
    }
    const bool simulate = hasArgument(argc, argv, "--simulate");
    for (const char* simulatedOnly : {"--no-mouse", "--no-keyboard"}) {
        if (!simulate && hasArgument(argc, argv, simulatedOnly)) {
            std::fprintf(stderr, "tindlewave: %s needs --simulate\n", simulatedOnly);
            return 2;
        }
    }
    // The world first: the simulated one exports the stand-in hidutil's state before any thread
    // runs the tool.
    std::optional<SimulatedWorld::StateFile> hidutilState;  // outlives the world
    if (simulate) {
        auto made = SimulatedWorld::defaultHidutilState();
        if (!made.ok()) {
            std::fprintf(stderr, "tindlewave: %s\n", made.error().description.c_str());
            return 1;
        }
        hidutilState.emplace(std::move(*made));
    }
    Defaults& defaults = Defaults::standard();
    EngineAssembly assembly({
        .simulated = simulate ? std::optional(EngineAssembly::Options::Simulated{
                                    hidutilState->path(), SimulatedWorld::hidutilBesideProgram().executable})
                              : std::nullopt,
        .defaults = defaults,
        .log = LogStore::shared(),
        .events = nullptr,
    });
    ProgramWorld& world = assembly.world();
    ToolkitRuntimeFolder toolkitRuntime;  // outlives the application
    QApplication application(argc, argv);
    QApplication::setPalette(withDisabledDimmedTexts(QApplication::palette()));
    QApplication::setApplicationName("Tindlewave");
    QApplication::setApplicationVersion(QString::fromStdString(Updates::version()));
    QApplication::setQuitOnLastWindowClosed(false);
    QtMainExecutor main(SystemClock::shared());
    // Over real devices the event system takes its screens and refresh rates from the toolkit, as
    // they change.
    std::unique_ptr<QtScreens> screens;
    if (LinuxWorld* real = world.linuxWorld())
        screens = std::make_unique<QtScreens>([real](std::vector<Screen> all) { real->events.setScreens(std::move(all)); });
    Logger log(std::string(bundleIdentifier), "app");

    Permissions& permissions = assembly.permissions();
    assembly.start(main);
    XdgAutostart autostart(XdgAutostart::defaultFolder(), XdgAutostart::ProgramPath(&XdgAutostart::runningProgram));
    QtWorkspace workspace;
    // Over Linux devices the texts are the Linux ones, and the guide shows the rule's commands.
    setWorldTexts(simulate ? WorldTexts::simulated : WorldTexts::linuxDevices);
    std::function<std::string()> ruleCommands;
    if (LinuxWorld* real = world.linuxWorld())
        ruleCommands = [real] {
            return GeneralTexts::ruleCommands(real->grants.hasUinput(), real->grants.keyboardsNeeded());
        };
    PermissionGuide guide(permissions, ruleCommands);
    const bool hasTray = QSystemTrayIcon::isSystemTrayAvailable();
    // Becomes true when a tray appears after the start and the menu moves there.
    bool menuInTray = hasTray;
    std::unique_ptr<TrayWatch> trayWatch;

    std::unique_ptr<QuitSequence> quit;
    auto requestQuit = [&quit] {
        if (quit) quit->request();
    };
    ShellSettingsWindow* settingsWindow = nullptr;

    AppModel model(AppModel::Parts{
        .main = main,
        .store = std::make_unique<ConfigStoreFile>(ConfigStore::defaultURL()),
        .engine = std::make_unique<EngineAdapter>(assembly),
        .defaults = defaults,
        .permissions = permissions,
        .log = LogStore::shared(),
        .loginItem = autostart,
        .workspace = workspace,
        .guide = guide,
        .updateFeed = updateFeedURL(),
        .makeUpdater =
            [&workspace](const std::string& feed) -> std::unique_ptr<UpdaterBackend> {
                return std::make_unique<FeedUpdater>(FeedUpdater::Options{.feed = feed,
                                                                          .currentVersion = Updates::version()},
                                                     workspace, LogStore::shared());
            },
        .makeMenu =
            [&](AppModel& app) {
                return std::make_unique<StatusMenu>(
                    app, hasTray, [&app] { app.settingsWindow().show(); }, requestQuit);
            },
        .makeSettingsWindow =
            [&](SettingsModel& settings) {
                auto window = std::make_unique<ShellSettingsWindow>(
                    settings,
                    SettingsWindow::Services{
                        .main = main,
                        .pool = ThreadPool::shared(),
                        .defaults = defaults,
                        .general = {
                            .allow =
                                [&](Permission p) {
                                    // Nothing can be asked for on Linux: the guide shows what to do.
                                    if (simulate) permissions.request(p);
                                    guide.show(p);
                                },
                            .open = [&](const std::string& url) { workspace.open(url); },
                            .reveal = [&](const std::string& path) { workspace.reveal(path); },
                            .showLog = nullptr,
                        },
                        // Without a tray the window is the program: closing it quits.
                        .onClosed =
                            [&] {
                                if (!menuInTray) requestQuit();
                            },
                    });
                settingsWindow = window.get();
                return window;
            },
    });
    quit = std::make_unique<QuitSequence>(
        main, model.engine(), [&] { model.cancelEngineRun(); }, [] { QCoreApplication::quit(); });
    TerminationSignal termination([&](int signal) {
        log.log(LogLevel::defaultLevel, "quitting (received " + TerminationSignal::name(signal) + ")");
        requestQuit();
    });
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &application,
                     [&](QSessionManager&) { requestQuit(); });

    const auto snapshots = snapshotFolder(QApplication::arguments(), defaults);
    // Without a tray the window is the program's face, so it opens at launch; but building it
    // takes longer than the engine's start, so it waits for the engine's first status (and no
    // longer than `windowAtTheLatest`), and the menu is up to date as soon as it can be.
    auto makeWindowWithMenu = [&] {
        model.settingsWindow();
        if (auto* menu = dynamic_cast<StatusMenu*>(model.menu()); menu && settingsWindow && !menuInTray)
            menu->hangFrom(settingsWindow->window().tabs().toolBar());
    };
    Subscription keyboardsWatch;
    bool windowOpened = false;
    Subscription firstStatus;
    TimerHandle windowTimer;
    auto openWindowWithMenu = [&] {
        firstStatus.cancel();
        windowTimer.cancel();
        if (windowOpened) return;
        windowOpened = true;
        makeWindowWithMenu();
        // Shown in a job after the one that made it: a status that came meanwhile is drawn first.
        main.post([&model] { model.settingsWindow().show(); });
    };
    QTimer::singleShot(0, &application, [&] {
        log.log(LogLevel::defaultLevel, "started");
        // The log is mirrored to standard error only when that is a terminal: say where it is.
        if (::isatty(STDERR_FILENO) != 1)
            std::fprintf(stderr, "Tindlewave: standard error is not a terminal, so the log lines go only to %s\n",
                         LogStore::shared().file().c_str());
        if (const auto notice = files::foldersOfAnotherUser()) sayAtStart(log, LogLevel::error, *notice);
        // Without a system bus, devices are set up again after a sleep only when they reconnect.
        if (const auto& noWakes = assembly.noWakes())
            sayAtStart(log, LogLevel::defaultLevel,
                       "no wake notifications from the system (" + *noWakes +
                           "): after a sleep, devices are set up again only when they reconnect");
        if (SimulatedWorld* simulated = world.simulatedWorld()) {
            attachDevices(*simulated, !hasArgument(argc, argv, "--no-mouse"),
                          !hasArgument(argc, argv, "--no-keyboard"), log);
        } else {
            keyboardsWatch = startOverRealDevices(*world.linuxWorld(), model, log);
        }
        model.start();
        if (!hasTray) {
            log.log(LogLevel::defaultLevel, "no system tray: the settings window carries the menu");
            // The panel with the tray may come up after a program started at login.
            trayWatch = std::make_unique<TrayWatch>(TrayWatch::Options{}, [&] {
                menuInTray = true;
                if (auto* menu = dynamic_cast<StatusMenu*>(model.menu())) menu->moveToTray();
                log.log(LogLevel::defaultLevel, "a system tray appeared: the menu moved there");
            });
            if (snapshots) {
                makeWindowWithMenu();  // the pictures show the window as it will be
            } else {
                // Opened in a job of its own: the window's pages observe the model it is told from.
                firstStatus = model.settings().observe([&](SettingsField field) {
                    if (field == SettingsField::status) main.post(openWindowWithMenu);
                });
                windowTimer = main.schedule(main.clock().now() + windowAtTheLatest, openWindowWithMenu);
            }
        }
        if (snapshots) {
            std::error_code error;
            const auto where = std::filesystem::absolute(*snapshots, error).string();
            model.snapshotSettings(*snapshots, [&log, where] {
                const auto line = "wrote every picture of the settings window to " + where;
                log.log(LogLevel::defaultLevel, line);
                if (::isatty(STDERR_FILENO) != 1) std::fprintf(stderr, "Tindlewave: %s\n", line.c_str());
            });
        }
    });
    const int status = main.exec();
    keyboardsWatch.cancel();
    // The engine has put the devices back and its run is cancelled: let what is queued for it
    // finish and stop its threads; it is destroyed after the app model, on the way out.
    assembly.stop();
    if (SimulatedWorld* simulated = world.simulatedWorld()) logWhatTheMiceWereLeft(*simulated, log);
    log.log(LogLevel::defaultLevel, "quit");
    return status;
}

}  // namespace tindlewave
