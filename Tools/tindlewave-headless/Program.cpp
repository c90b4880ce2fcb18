#include "Program.h"

#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstring>

#include "Model/ConfigCodec.h"

namespace tindlewave::headless {

Program::Program(Options options, Places places, int signalFd)
    : options_(std::move(options)),
      places_(std::move(places)),
      signalFd_(signalFd),
      log_(LogStore::defaultFolder(), true, SystemClock::shared()),
      defaults_(Defaults::defaultFile()),
      assembly_(EngineAssembly::Options{
          .simulated = options_.simulate ? std::optional(EngineAssembly::Options::Simulated{
                                               places_.hidutilState, places_.hidutil})
                                         : std::nullopt,
          .defaults = defaults_,
          .log = log_,
          .events =
              [this](EventSystem& world) {
                  auto printing = std::make_unique<PrintingEventSystem>(world, printer_);
                  printing_ = printing.get();
                  return printing;
              },
      }),
      store_(places_.config) {}

Program::~Program() {
    if (input_) input_->close();
}

int Program::run() {
    main_.post([this] { start(); });
    auto finished = finished_.get_future();
    const int status = finished.get();
    // Nothing runs into the engine once its executors are stopped and joined; only then does it go.
    main_.stop();
    main_.join();
    assembly_.stop();
    outputs_.clear();
    return status;
}

void Program::start() {
    signalWatch_ = main_.addFd(signalFd_, EPOLLIN, [this](std::uint32_t) { signalled(); });
    if (const auto& unavailable = assembly_.noWakes())
        printer_.line("no wake notifications from the system (" + *unavailable +
                      "); the \"wake\" command acts one out");
    assembly_.start(main_, [this](const Action& action) {
        ++outputsSeen_;
        auto text = ConfigCodec::compact(action);
        printer_.line("action: " + (text ? *text : std::string("?")));
    });
    subscribeToEngine();

    printer_.line("settings file: " + places_.config);
    if (!simulated_) {
        startOverRealDevices();
    } else if (!options_.mouse && places_.recordings.empty()) {
        printer_.line("no recorded mice found beside the program; attach one with \"attach mouse FILE\"");
    } else {
        attachMouse(options_.mouse ? *options_.mouse
                                   : places_.recordings + "/MX-Master-3-Wireless-Mouse-B023.json");
    }
    if (simulated_ && options_.keyboard) attachKeyboard(std::nullopt);

    store_.start([this] { main_.post([this] { startRun(); }); });

    readScript();
    readStandardInput();
    runPending();
}

void Program::startRun() {
    if (runRefused_) return;
    run_ = assembly_.run(store_.snapshots(), [this] { main_.post([this] { runEnded(); }); });
}

// The engine's statuses and heard presses, printed on the main executor (its actions are
// printed as the assembly performs them).
void Program::subscribeToEngine() {
    outputs_.push_back(engine_->statuses().subscribe(main_, [this](EngineStatus status) {
        ++outputsSeen_;
        if (latest_ != status) printer_.line(statusLine(status));
        latest_ = std::move(status);
        checkWait();
    }));
    outputs_.push_back(engine_->heard().subscribe(main_, [this](LearnedPress press) {
        ++outputsSeen_;
        auto device = ConfigCodec::compact(press.match);
        std::string heard = "a press no rule can name";
        if (const auto* control = as<Heard::Control>(press.heard)) {
            auto text = ConfigCodec::compact(control->control);
            heard = text ? *text : "?";
        }
        printer_.line("learned: " + heard + " on " + (device ? *device : "?"));
    }));
}

void Program::readScript() {
    if (!options_.script) return;
    LineReader reader;
    reader.append(options_.scriptText, [this](LineReader::Line line) { pending_.push_back(std::move(line)); });
    if (auto last = reader.finish()) pending_.push_back(std::move(*last));
}

void Program::readStandardInput() {
    // The lines are taken as the commands before them are done; a line arriving in an empty
    // queue, and the end of the input, start that again.
    input_ = StandardInput::start(STDIN_FILENO, [this] { main_.post([this] { runPending(); }); });
}

// --- Quitting ---

void Program::signalled() {
    signalfd_siginfo info{};
    std::string names;
    while (::read(signalFd_, &info, sizeof info) == sizeof info) {
        if (!names.empty()) names += ", ";
        names += ::sigabbrev_np(static_cast<int>(info.ssi_signo))
                     ? std::string("SIG") + ::sigabbrev_np(static_cast<int>(info.ssi_signo))
                     : std::to_string(info.ssi_signo);
    }
    if (!names.empty()) quit("received " + names);
}

void Program::quit(const std::string& why) {
    if (quitting_) return;  // a second request changes nothing
    quitting_ = true;
    waiting_ = false;
    waitTimer_.cancel();
    pending_.clear();
    printer_.line("quitting (" + why + ")");
    engine_->shutdown([this] { main_.post([this] { shutDown(); }); });
}

void Program::shutDown() {
    if (run_.isArmed()) {
        run_.cancel();  // its end calls runEnded()
    } else {
        runRefused_ = true;
        runEnded();
    }
}

void Program::runEnded() {
    if (simulated_) {
        reportSimulatedDevicesAtExit();
    } else {
        reportRealDevicesAtExit();
    }
}

void Program::report(std::vector<std::string> lines) {
    if (reported_) return;
    reported_ = true;
    printing_->endBurst();
    for (const auto& line : lines) printer_.line(line);
    finished_.set_value(0);
}

}  // namespace tindlewave::headless
