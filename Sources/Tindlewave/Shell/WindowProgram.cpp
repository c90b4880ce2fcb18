#include "Shell/WindowProgram.h"

#include <unistd.h>

#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "App/EngineAdapter.h"
#include "App/QuitSequence.h"
#include "Platform/Clock.h"
#include "Platform/Linux/Permissions/DeviceRules.h"
#include "Runtime/Executors/Actors.h"
#include "Runtime/Executors/ThreadPool.h"
#include "Runtime/Stores/ConfigStore.h"
#include "Runtime/Stores/Defaults.h"
#include "Runtime/Worlds/LinuxWorld.h"
#include "Settings/Model/General/BuildInfo.h"
#include "Settings/Model/General/GeneralTexts.h"
#include "Settings/Views/SettingsTabs.h"
#include "Settings/Views/WindowPicture.h"
#include "Shell/FeedUpdater.h"
#include "Shell/QtScreens.h"
#include "Shell/SecondStart.h"
#include "Shell/ShellViews.h"
#include "Shell/StatusMenu.h"
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
    for (const auto& problem : real.problems())
        sayAtStart(log, LogLevel::error, "cannot use devices: " + problem);
    for (const auto& line : NodePermissionGrants::remedyTexts(real.grants.remedies(), GeneralTexts::remediesWhere))
        sayAtStart(log, LogLevel::defaultLevel, line);
    return model.settings().observe([&model, &real, &log](SettingsField field) {
        if (field != SettingsField::snapshot) return;
        const auto& snapshot = model.settings().snapshot();
        if (!snapshot || !snapshot->config) return;
        const bool needed = NodePermissionGrants::usesKeyboards(*snapshot->config);
        if (needed == real.grants.keyboardsNeeded()) return;
        real.grants.setKeyboardsNeeded(needed);
        if (needed && real.grants.remedies().installKeyboardRule)
            sayAtStart(log, LogLevel::defaultLevel,
                       NodePermissionGrants::remedyTexts({.installKeyboardRule = true}, GeneralTexts::remediesWhere).front());
    });
}

// After the quit (on the HID executor, or once its thread has stopped), what each simulated HID++
// mouse was left with.
void logWhatTheMiceWereLeft(SimulatedWorld& simulated, const Logger& log) {
    for (const auto& device : simulated.devices())
        if (device.isHidppMouse)
            log.log(LogLevel::defaultLevel,
                    "at quit, " + device.name + " was left " +
                        (simulated.isNative(device) ? "native" : "diverted"));
}

// Over real devices the event system takes its screens and refresh rates from the toolkit, as
// they change.
std::unique_ptr<QtScreens> screensFor(ProgramWorld& world) {
    LinuxWorld* real = world.linuxWorld();
    if (!real) return nullptr;
    return std::make_unique<QtScreens>(
        [real](std::vector<Screen> all) { real->events.setScreens(std::move(all)); });
}

// Over real devices the guide shows the device rule's commands as they are when it opens, and
// names the uinput module when they load it.
std::function<RuleGuide()> ruleGuideOf(ProgramWorld& world) {
    LinuxWorld* real = world.linuxWorld();
    if (!real) return {};
    return [real] {
        const bool hasUinput = real->grants.hasUinput();
        return RuleGuide{GeneralTexts::ruleGuideText(!hasUinput),
                         deviceRuleCommands(hasUinput, real->grants.keyboardsNeeded())};
    };
}
}  // namespace

ProgramApplication::ProgramApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setPalette(withDisabledDimmedTexts(palette()));
    setApplicationName("Tindlewave");
    setApplicationVersion(QString::fromStdString(Updates::version()));
    setQuitOnLastWindowClosed(false);
}

WindowProgram::WindowProgram(int argc, char** argv, Launch launch)
    : heldSignals_(),
      argc_(argc),
      launch_(std::move(launch)),
      defaults_(Defaults::standard()),
      assembly_(EngineAssembly::Options{
          .simulated = launch_.simulate ? std::optional(EngineAssembly::Options::Simulated{
                                              launch_.hidutilState->path(),
                                              SimulatedWorld::hidutilBesideProgram().executable})
                                        : std::nullopt,
          .defaults = defaults_,
          .log = LogStore::shared(),
          .events = nullptr,
      }),
      log_(std::string(bundleIdentifier), "app"),
      toolkitEnd_(assembly_,
                  [this] {
                      if (SimulatedWorld* simulated = assembly_.world().simulatedWorld())
                          logWhatTheMiceWereLeft(*simulated, log_);
                  }),
      early_(assembly_, ConfigStore::defaultURL(), [this] { attachSimulatedDevices(); }),
      application_(argc_, argv),
      main_(SystemClock::shared()),
      screens_(screensFor(assembly_.world())),
      guide_(assembly_.permissions(), ruleGuideOf(assembly_.world())),
      hasTray_(QSystemTrayIcon::isSystemTrayAvailable()),
      menuInTray_(hasTray_),
      model_(modelParts()),
      termination_([this](int signal) {
          log_.log(LogLevel::defaultLevel,
                   "quitting (received " + TerminationSignal::name(signal) + ")");
          requestQuit();
      }),
      snapshots_(snapshotFolder(QApplication::arguments(), defaults_)) {
    toolkitEnd_.toolkitReady();
    heldSignals_.release();
    assembly_.start(main_);
    followQuitRequests();
    QTimer::singleShot(0, &application_, [this] { start(); });
}

WindowProgram::~WindowProgram() = default;

int WindowProgram::run() {
    const int status = main_.exec();
    toolkitEnd_.quitDone();
    keyboardsWatch_.cancel();
    // The engine has put the devices back and its run is cancelled: let what is queued for it
    // finish and stop its threads; it is destroyed after the app model, on the way out.
    assembly_.stop();
    if (SimulatedWorld* simulated = assembly_.world().simulatedWorld())
        logWhatTheMiceWereLeft(*simulated, log_);
    log_.log(LogLevel::defaultLevel, "quit");
    return status;
}

AppModel::Parts WindowProgram::modelParts() {
    return {
        .main = main_,
        .store = early_.takeStore(),
        .engine = std::make_unique<EngineAdapter>(assembly_),
        .defaults = defaults_,
        .permissions = assembly_.permissions(),
        .log = LogStore::shared(),
        .loginItem = assembly_.world().loginItem(),
        .workspace = workspace_,
        .guide = guide_,
        .updateFeed = updateFeedURL(),
        .makeUpdater = [this](const std::string& feed) -> std::unique_ptr<UpdaterBackend> {
            return std::make_unique<FeedUpdater>(
                FeedUpdater::Options{.feed = feed, .currentVersion = Updates::version()},
                workspace_, defaults_, LogStore::shared());
        },
        .makeMenu =
            [this](AppModel& app) {
                return std::make_unique<StatusMenu>(
                    app, hasTray_, [&app] { app.settingsWindow().show(); },
                    [this] { requestQuit(); });
            },
        .makeSettingsWindow =
            [this](SettingsModel& settings) { return makeSettingsWindow(settings); },
        .engineRun = early_.takeRun(),
    };
}

std::unique_ptr<SettingsWindowView> WindowProgram::makeSettingsWindow(SettingsModel& settings) {
    auto window = std::make_unique<ShellSettingsWindow>(
        settings, SettingsWindow::Services{
                      .main = main_,
                      .pool = ThreadPool::shared(),
                      .defaults = defaults_,
                      .general = generalActions(),
                      // Without a tray the window is the program: closing it quits.
                      .onClosed =
                          [this] {
                              if (!menuInTray_) requestQuit();
                          },
                  });
    settingsWindow_ = window.get();
    return window;
}

// The permission prompts: nothing can be asked for over Linux devices, and there is no desktop
// pane to open; the guide's card shows what to do.
GeneralActions WindowProgram::generalActions() {
    return {
        .allow =
            [this](Permission p) {
                if (launch_.simulate) assembly_.permissions().request(p);
                guide_.show(p);
            },
        .open = [this](const std::string& url) { workspace_.open(url); },
        .reveal = [this](const std::string& path) { workspace_.reveal(path); },
        .showLog = nullptr,
    };
}

void WindowProgram::followQuitRequests() {
    quit_ = std::make_unique<QuitSequence>(
        main_, model_.engine(), [this] { model_.cancelEngineRun(); },
        [] { QCoreApplication::quit(); });
    QObject::connect(&application_, &QGuiApplication::commitDataRequest, &application_,
                     [this](QSessionManager&) { requestQuit(); });
}

void WindowProgram::requestQuit() {
    if (quit_) quit_->request();
}

void WindowProgram::start() {
    announceStart();
    takeUpDevices();
    model_.start();
    followTheTray();
    if (!hasTray_) carryTheMenuInTheWindow();
    answerSecondStarts();
    if (snapshots_) takeSnapshots();
}

// Started again over the same devices, the program asks this one for its window (SecondStart.h).
void WindowProgram::answerSecondStarts() {
    if (const auto* why = std::get_if<std::string>(&launch_.secondStarts))
        log_.log(LogLevel::error, "starting the program again cannot bring this one's window to the front: " + *why);
    auto* listening = std::get_if<UniqueFd>(&launch_.secondStarts);
    if (!listening) return;
    secondStarts_ = std::make_unique<SecondStartServer>(std::move(*listening), [this] {
        log_.log(LogLevel::defaultLevel, "started again: the settings window comes to the front");
        showWindowNow();
    });
}

// The panel with the tray may come up after a program started at login, and may go away (a crash,
// a restart) and come back: the menu goes where it can be reached.
void WindowProgram::followTheTray() {
    trayWatch_ = std::make_unique<TrayWatch>(TrayWatch::Options{}, hasTray_, [this](bool there) {
        auto* menu = dynamic_cast<StatusMenu*>(model_.menu());
        if (!menu) return;
        menuInTray_ = there;
        if (there) {
            menu->moveToTray();
            log_.log(LogLevel::defaultLevel, "a system tray appeared: the menu moved there");
            return;
        }
        // Without it, nothing else would show that the program runs: the window is the program
        // again, with the menu, and closing it quits.
        log_.log(LogLevel::defaultLevel, "the system tray went away: the settings window carries the menu");
        showWindowNow();
    });
}

void WindowProgram::announceStart() {
    log_.log(LogLevel::defaultLevel, "started");
    // The log is mirrored to standard error only when that is a terminal: say where it is.
    if (::isatty(STDERR_FILENO) != 1)
        std::fprintf(
            stderr,
            "Tindlewave: standard error is not a terminal, so the log lines go only to %s\n",
            LogStore::shared().file().c_str());
    if (launch_.othersFolders) sayAtStart(log_, LogLevel::error, *launch_.othersFolders);
    // Without a system bus, devices are set up again after a sleep only when they reconnect.
    if (const auto& noWakes = assembly_.noWakes())
        sayAtStart(log_, LogLevel::defaultLevel,
                   "no wake notifications from the system (" + *noWakes +
                       "): after a sleep, devices are set up again only when they reconnect");
}

// Before the engine's run begins: the simulated devices are there at launch, as a user's are.
void WindowProgram::attachSimulatedDevices() {
    if (SimulatedWorld* simulated = assembly_.world().simulatedWorld())
        attachDevices(*simulated, launch_.mouse, launch_.keyboard, log_);
}

void WindowProgram::takeUpDevices() {
    if (LinuxWorld* real = assembly_.world().linuxWorld())
        keyboardsWatch_ = startOverRealDevices(*real, model_, log_);
}

// Without a tray the window is the program's face, so it opens at launch; but building it takes
// longer than the engine's start, so it waits for the engine's first status (and no longer than
// `windowAtTheLatest`), and the menu is up to date as soon as it can be.
void WindowProgram::carryTheMenuInTheWindow() {
    log_.log(LogLevel::defaultLevel, "no system tray: the settings window carries the menu");
    if (snapshots_) {
        makeWindowWithMenu();  // the pictures show the window as it will be
        return;
    }
    // Opened in a job of its own: the window's pages observe the model it is told from.
    firstStatus_ = model_.settings().observe([this](SettingsField field) {
        if (field == SettingsField::status) main_.post([this] { openWindowWithMenu(); });
    });
    windowTimer_ =
        main_.schedule(main_.clock().now() + windowAtTheLatest, [this] { openWindowWithMenu(); });
}

void WindowProgram::makeWindowWithMenu() {
    model_.settingsWindow();
    if (auto* menu = dynamic_cast<StatusMenu*>(model_.menu());
        menu && settingsWindow_ && !menuInTray_)
        menu->hangFrom(settingsWindow_->window().tabs().toolBar());
}

void WindowProgram::openWindowWithMenu() {
    firstStatus_.cancel();
    windowTimer_.cancel();
    if (windowOpened_) return;
    windowOpened_ = true;
    makeWindowWithMenu();
    // Shown in a job after the one that made it: a status that came meanwhile is drawn first.
    main_.post([this] { model_.settingsWindow().show(); });
}

// At once, with the menu on its tool bar while there is no tray.
void WindowProgram::showWindowNow() {
    firstStatus_.cancel();
    windowTimer_.cancel();
    windowOpened_ = true;
    makeWindowWithMenu();
    model_.settingsWindow().show();
}

void WindowProgram::takeSnapshots() {
    std::error_code error;
    const auto where = std::filesystem::absolute(*snapshots_, error).string();
    model_.snapshotSettings(*snapshots_, [this, where] {
        const auto line = "wrote every picture of the settings window to " + where;
        log_.log(LogLevel::defaultLevel, line);
        if (::isatty(STDERR_FILENO) != 1) std::fprintf(stderr, "Tindlewave: %s\n", line.c_str());
    });
}

}  // namespace tindlewave
