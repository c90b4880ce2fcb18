#include "Program.h"

#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <thread>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "Model/ConfigCodec.h"
#include "Model/HexCoding.h"
#include "Model/Keys.h"
#include "Core/HIDPP/Feature.h"
#include "Platform/Linux/System/Files.h"
#include "Platform/Simulated/HID/VirtualHidppMouse.h"
#include "Runtime/Executors/Actors.h"
#include "Runtime/Worlds/LinuxWorld.h"
#include "Platform/Linux/Devices/LinuxHIDProperties.h"
#include "Core/Devices/DeviceIdentity.h"
#include "Runtime/Tap/TapHost.h"
#include "SetUp.h"

namespace tindlewave::headless {

namespace {
constexpr auto permissionPoll = std::chrono::seconds(1);
// The longest a command's effects are followed before the next command runs anyway (a mouse
// told to delay its replies, a scroll that does not end).
constexpr auto settleLimit = std::chrono::seconds(5);
// How often a wait looks at the engine when no status came meanwhile.
constexpr auto waitLook = std::chrono::milliseconds(50);
}

// Standard input, read on a thread of its own; each line goes to the main executor. The thread
// may still be blocked in read() when the program ends, so what it reaches is kept here.
struct Program::Input {
    std::mutex mutex;
    Program* program = nullptr;  // null once the program no longer takes input

    void deliver(std::function<void(Program&)> job) {
        std::lock_guard lock(mutex);
        if (!program) return;
        Program* target = program;
        target->main_.post([target, job = std::move(job)] { job(*target); });
    }
};

Program::Program(Options options, Places places, int signalFd)
    : options_(std::move(options)),
      places_(std::move(places)),
      signalFd_(signalFd),
      log_(LogStore::defaultFolder(), true, SystemClock::shared()),
      journal_(Logger(std::string(bundleIdentifier), "devices", log_)),
      defaults_(Defaults::defaultFile()),
      world_(options_.simulate
                 ? ProgramWorld::simulated(hid_, tap_, places_.hidutilState,
                                           KeyMapHost{places_.hidutil, &pool_})
                 : ProgramWorld::real(hid_, tap_, &pool_)),
      performer_(printing_, world_.hotKeys(), main_, Logger(std::string(bundleIdentifier), "actions", log_)),
      store_(places_.config) {}

Program::~Program() {
    if (input_) {
        std::lock_guard lock(input_->mutex);
        input_->program = nullptr;
    }
}

int Program::run() {
    main_.post([this] { start(); });
    auto finished = finished_.get_future();
    const int status = finished.get();
    // Nothing runs into the engine once its executors are stopped and joined; only then does it go.
    main_.stop();
    main_.join();
    tap_.stop();
    hid_.stop();
    tap_.join();
    hid_.join();
    logind_.reset();
    outputs_.clear();
    engine_.reset();
    return status;
}

void Program::start() {
    signalWatch_ = main_.addFd(signalFd_, EPOLLIN, [this](std::uint32_t) { signalled(); });

    auto logind = LogindWakes::start(main_, [this] { wakes_.send(WakeNotice{}); });
    if (auto* unavailable = std::get_if<LogindSleepWatch::Unavailable>(&logind)) {
        printer_.line("no wake notifications from the system (" + unavailable->reason +
                      "); the \"wake\" command acts one out");
    } else {
        logind_ = std::move(std::get<std::unique_ptr<LogindWakes>>(logind));
    }
    wakeSubscription_ = wakeSource_.subscribe([this] { wakes_.send(WakeNotice{}); });

    engine_ = std::make_unique<Engine>(EngineWorld{hid_, tap_, world_.hidSystem(), printing_,
                                                   world_.grants(), defaults_, journal_,
                                                   world_.keyMap(), wakes_});
    outputs_.push_back(engine_->statuses().subscribe(main_, [this](EngineStatus status) {
        ++outputsSeen_;
        if (latest_ != status) printer_.line(statusLine(status));
        latest_ = std::move(status);
        checkWait();
    }));
    outputs_.push_back(engine_->actions().subscribe(main_, [this](Action action) {
        ++outputsSeen_;
        auto text = ConfigCodec::compact(action);
        printer_.line("action: " + (text ? *text : std::string("?")));
        performer_.perform(action);
    }));
    outputs_.push_back(engine_->heard().subscribe(main_, [this](LearnedPress press) {
        ++outputsSeen_;
        auto device = ConfigCodec::compact(press.match);
        std::string heard = "a press no rule can name";
        if (const auto* control = press.heard.as<Heard::Control>()) {
            auto text = ConfigCodec::compact(control->control);
            heard = text ? *text : "?";
        }
        printer_.line("learned: " + heard + " on " + (device ? *device : "?"));
    }));

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

    store_.start([this] {
        hid_.post([this] {
            if (runRefused_) return;
            runStarted_ = true;
            run_ = engine_->run(store_.snapshots(), permissions_.updates(permissionPoll, main_),
                                [this] { main_.post([this] { runEnded(); }); });
        });
    });

    if (options_.script) {
        // As the settings file is read: a FIFO or device is refused without waiting on it, and
        // so is a file too large to be a script.
        auto script = files::read(*options_.script);
        if (!script) {
            printer_.line("cannot read the script " + *options_.script + ": " +
                          script.error().description);
        } else {
            std::string_view text = *script;
            while (!text.empty()) {
                const auto end = text.find('\n');
                pending_.emplace_back(text.substr(0, end));
                if (end == std::string_view::npos) break;
                text.remove_prefix(end + 1);
            }
        }
    }
    input_ = std::make_shared<Input>();
    input_->program = this;
    std::thread([input = input_] {
        std::string buffer;
        char chunk[4096];
        for (;;) {
            auto got = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            buffer.append(chunk, static_cast<std::size_t>(got));
            for (auto end = buffer.find('\n'); end != std::string::npos; end = buffer.find('\n')) {
                std::string line = buffer.substr(0, end);
                buffer.erase(0, end + 1);
                input->deliver([line](Program& program) { program.enqueue(line); });
            }
        }
        if (!buffer.empty()) {
            input->deliver([line = buffer](Program& program) { program.enqueue(line); });
        }
        input->deliver([](Program& program) { program.inputEnded(); });
    }).detach();
    runPending();
}

void Program::attachMouse(const std::string& given) {
    // A bare name that is not a file here is a recording shipped beside the program, with or
    // without its ".json".
    std::string file = given;
    std::error_code error;
    if (!given.empty() && given.find('/') == std::string::npos && !std::filesystem::exists(given, error) &&
        !places_.recordings.empty()) {
        for (const std::string& name : {given, given + ".json"}) {
            const auto shipped = std::filesystem::path(places_.recordings) / name;
            if (std::filesystem::is_regular_file(shipped, error)) {
                file = shipped.string();
                break;
            }
        }
    }
    auto attached = simulated_->attachMouse(file);
    if (!attached) {
        printer_.line("cannot attach the mouse: " + attached.error());
        return;
    }
    Device device{*attached, nextDevice_++};
    printer_.line(fmt::format("device {}: {} (HID++ mouse {}:{})", device.number, device.name,
                              hexText(device.vendor, 4), hexText(device.product, 4)));
    devices_.emplace(device.number, std::move(device));
}

void Program::attachKeyboard(const std::optional<DeviceMatch>& external) {
    Device device;
    if (external) {
        const auto& ids = *external->as<DeviceMatch::Device>();
        device = {simulated_->attachExternalKeyboard(ids.vendor.rawValue, ids.product.rawValue), 0};
    } else {
        device = {simulated_->attachBuiltInKeyboard(), 0};
    }
    device.number = nextDevice_++;
    printer_.line(fmt::format("device {}: {} ({} keyboard {}:{})", device.number, device.name,
                              device.builtIn ? "built-in" : "external", hexText(device.vendor, 4),
                              hexText(device.product, 4)));
    devices_.emplace(device.number, std::move(device));
}

// --- Commands ---

void Program::enqueue(std::string line) {
    if (quitting_) return;
    pending_.push_back(std::move(line));
    runPending();
}

void Program::inputEnded() {
    inputDone_ = true;
    runPending();
}

void Program::runPending() {
    while (!quitting_ && !waiting_ && !settling_ && !pending_.empty()) {
        std::string line = std::move(pending_.front());
        pending_.pop_front();
        auto parsed = parseCommand(line);
        if (parsed.error) printer_.line(*parsed.error);
        if (!parsed.command) continue;
        perform(*parsed.command);
        if (!quitting_ && !waiting_) settle(main_.clock().now() + settleLimit);
    }
    if (!quitting_ && !waiting_ && !settling_ && pending_.empty() && inputDone_) {
        quit("the input ended");
    }
}

// --- Following a command's effects ---
//
// A command acts on the HID executor (the mouse), the tap executor (injected events) or the
// engine; what follows comes back through the others: a mouse's reports at their own instants,
// the engine's actions and statuses to the main executor, the performer's posts to the tap
// executor, a smooth scroll's frames on tap timers. The command is settled once the mice have
// nothing left to send, no scroll is running, and a pass through the HID, tap, HID and main
// executors (each runs what was posted to it before) saw nothing new happen.

std::uint64_t Program::activity() const {
    return outputsSeen_ + printer_.count() + printing_.posts();
}

void Program::settle(Instant until) {
    settling_ = true;
    std::vector<RegistryID> mice;
    for (const auto& [number, d] : devices_) {
        if (d.isHidppMouse) mice.push_back(d.attached.interfaces.at(0));
    }
    hid_.post([this, mice = std::move(mice), before = activity(), until] {
        settleOnHid(mice, before, until);
    });
}

void Program::settleOnHid(std::vector<RegistryID> mice, std::uint64_t before, Instant until) {
    std::optional<Instant> next;
    for (auto id : mice) {
        const VirtualHidppMouse* mouse = simulated_ ? simulated_->hid.mouse(id) : nullptr;
        const auto at = mouse ? mouse->nextReportAt() : std::nullopt;
        if (at && (!next || *at < *next)) next = at;
    }
    const Instant now = hid_.clock().now();
    if (next && now < until) {
        // After the world's own timer for that report, which is due at the same instant.
        const Instant look = std::max(*next, now) + std::chrono::milliseconds(1);
        settleHidTimer_ = hid_.schedule(look, [this, mice = std::move(mice), before, until] {
            settleOnHid(mice, before, until);
        });
        return;
    }
    tap_.post([this, before, until] { settleOnTap(before, until); });
}

void Program::settleOnTap(std::uint64_t before, Instant until) {
    const FrameClock* frames = engine_->tapHost().frames();
    const Instant now = tap_.clock().now();
    if (frames && !frames->isPaused() && now < until) {
        settleTapTimer_ = tap_.schedule(now + std::chrono::milliseconds(20),
                                        [this, before, until] { settleOnTap(before, until); });
        return;
    }
    hid_.post([this, before, until] {
        main_.post([this, before, until] { settledOnce(before, until); });
    });
}

void Program::settledOnce(std::uint64_t before, Instant until) {
    if (quitting_) return;
    if (activity() != before && main_.clock().now() < until) {
        settle(until);
        return;
    }
    printing_.endBurst();
    settling_ = false;
    runPending();
}

const Program::Device* Program::device(int number) {
    auto found = devices_.find(number);
    if (found == devices_.end()) {
        printer_.line(fmt::format("no device {}; \"devices\" lists them", number));
        return nullptr;
    }
    return &found->second;
}

const Program::Device* Program::lastMouse(bool hidppOnly) {
    for (auto it = devices_.rbegin(); it != devices_.rend(); ++it) {
        if (!it->second.isKeyboard && (it->second.isHidppMouse || !hidppOnly)) return &it->second;
    }
    printer_.line(hidppOnly ? "no HID++ mouse is attached" : "no mouse is attached");
    return nullptr;
}

void Program::onEngine(std::function<void(Engine&)> call) {
    Engine& engine = *engine_;
    hid_.post([&engine, call = std::move(call)] { call(engine); });
}

void Program::inject(Event event, bool fromKeyboard, double detents) {
    const Device* source = nullptr;
    for (auto it = devices_.rbegin(); it != devices_.rend() && !source; ++it) {
        if (it->second.isKeyboard == fromKeyboard) source = &it->second;
    }
    if (!source) {
        printer_.line(fromKeyboard ? "no keyboard is attached" : "no mouse is attached");
        return;
    }
    event.location = simulated_->events.cursorLocation();
    simulated_->events.inject(event, HIDOrigin{SenderID{source->attached.services.at(0).at(0)}, detents});
}

void Program::startOverRealDevices() {
    printer_.line("devices: this computer's mice and keyboards (--simulate for simulated ones)");
    const auto problems = world_.linuxWorld()->problems();
    for (const auto& problem : problems) printer_.line("cannot use devices: " + problem);
    if (!problems.empty()) {
        printer_.line("install the device rule (" + std::string(udevRulePath) +
                      ") as the README says; devices are picked up once access comes");
    }
    listRealDevices();
}

void Program::listRealDevices() {
    int listed = 0;
    for (const auto& entry : world_.linuxWorld()->registry.entries()) {
        if (entry.kind != LinuxDeviceRegistry::Kind::interface || !entry.present) continue;
        const auto properties = HIDProperties::fromBag(linuxHIDProperties(entry));
        const bool keyboard = properties.kind() == DeviceKind::keyboard;
        printer_.line(fmt::format("device: {} ({}{}, {}:{})", properties.name.value_or("Unknown device"),
                                  keyboard ? "keyboard" : "mouse",
                                  isHIDPPDevice(properties) ? ", HID++" : "",
                                  hexText(properties.vendor.rawValue, 4),
                                  hexText(properties.product.rawValue, 4)));
        ++listed;
    }
    if (listed == 0) printer_.line("no devices found");
}

bool Program::simulating() {
    if (simulated_) return true;
    printer_.line("this command acts on simulated devices: start with --simulate");
    return false;
}

void Program::perform(const Command& command) {
    // What acts on simulated devices needs them; the rest works over the real devices too.
    const bool simulatedOnly =
        !(std::holds_alternative<Command::Help>(command.value) || std::holds_alternative<Command::Devices>(command.value) ||
          std::holds_alternative<Command::Pause>(command.value) || std::holds_alternative<Command::Resume>(command.value) ||
          std::holds_alternative<Command::Reapply>(command.value) || std::holds_alternative<Command::Listen>(command.value) ||
          std::holds_alternative<Command::StopListening>(command.value) || std::holds_alternative<Command::Wake>(command.value) ||
          std::holds_alternative<Command::Status>(command.value) || std::holds_alternative<Command::WaitApplied>(command.value) ||
          std::holds_alternative<Command::Quit>(command.value));
    if (simulatedOnly && !simulating()) return;
    std::visit(
        [this](const auto& c) {
            using C = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<C, Command::Help>) {
                printer_.lines(commandHelp());
            } else if constexpr (std::is_same_v<C, Command::Devices>) {
                if (!simulated_) {
                    listRealDevices();
                    return;
                }
                if (devices_.empty()) printer_.line("no devices attached");
                for (const auto& [number, d] : devices_) {
                    printer_.line(fmt::format("device {}: {} ({}, {}:{})", number, d.name,
                                              d.isKeyboard ? "keyboard" : "HID++ mouse",
                                              hexText(d.vendor, 4), hexText(d.product, 4)));
                }
            } else if constexpr (std::is_same_v<C, Command::AttachMouse>) {
                attachMouse(c.file);
            } else if constexpr (std::is_same_v<C, Command::AttachKeyboard>) {
                attachKeyboard(c.external);
            } else if constexpr (std::is_same_v<C, Command::Detach>) {
                if (const Device* d = device(c.device)) {
                    simulated_->detach(*d);
                    printer_.line(fmt::format("device {} detached", c.device));
                    devices_.erase(c.device);
                }
            } else if constexpr (std::is_same_v<C, Command::Press> ||
                                 std::is_same_v<C, Command::Release>) {
                if (const Device* d = lastMouse(true)) {
                    const bool press = std::is_same_v<C, Command::Press>;
                    simulated_->hid.act(d->attached.interfaces.at(0), [cid = c.cid, press](VirtualHidppMouse& m,
                                                                             Instant now) {
                        press ? m.press(cid, now) : m.release(cid, now);
                    });
                }
            } else if constexpr (std::is_same_v<C, Command::Move>) {
                if (const Device* d = lastMouse(true)) {
                    simulated_->hid.act(d->attached.interfaces.at(0), [c](VirtualHidppMouse& m, Instant now) {
                        m.move(c.dx, c.dy, now);
                    });
                }
            } else if constexpr (std::is_same_v<C, Command::Thumb>) {
                if (const Device* d = lastMouse(true)) {
                    simulated_->hid.act(d->attached.interfaces.at(0), [c](VirtualHidppMouse& m, Instant now) {
                        m.turnThumbWheel(c.rotation, now);
                    });
                }
            } else if constexpr (std::is_same_v<C, Command::Reconnect>) {
                if (const Device* d = device(c.device)) {
                    if (!d->isHidppMouse) {
                        printer_.line(fmt::format("device {} is no HID++ mouse", c.device));
                    } else {
                        simulated_->hid.act(d->attached.interfaces.at(0),
                                   [](VirtualHidppMouse& m, Instant now) { m.reconnect(now); });
                    }
                }
            } else if constexpr (std::is_same_v<C, Command::Button>) {
                Event event;
                const bool left = c.number == 0, right = c.number == 1;
                event.type = c.down ? (left    ? EventType::leftMouseDown
                                       : right ? EventType::rightMouseDown
                                               : EventType::otherMouseDown)
                                    : (left    ? EventType::leftMouseUp
                                       : right ? EventType::rightMouseUp
                                               : EventType::otherMouseUp);
                event.setInteger(IntegerField::buttonNumber, c.number);
                if (c.down) {
                    buttonsDown_.insert(c.number);
                } else {
                    buttonsDown_.erase(c.number);
                }
                inject(event, false);
            } else if constexpr (std::is_same_v<C, Command::Drag>) {
                Event event;
                event.type = EventType::mouseMoved;
                if (!buttonsDown_.empty()) {
                    const int held = *buttonsDown_.begin();
                    event.type = held == 0   ? EventType::leftMouseDragged
                                 : held == 1 ? EventType::rightMouseDragged
                                             : EventType::otherMouseDragged;
                    event.setInteger(IntegerField::buttonNumber, held);
                }
                event.setInteger(IntegerField::deltaX, static_cast<std::int64_t>(c.dx));
                event.setInteger(IntegerField::deltaY, static_cast<std::int64_t>(c.dy));
                inject(event, false);
            } else if constexpr (std::is_same_v<C, Command::Wheel>) {
                Event event;
                event.type = EventType::scrollWheel;
                event.setInteger(IntegerField::scrollDelta1, c.lines);
                event.setFixedPoint(FixedPointField::scrollFixedDelta1, c.lines);
                inject(event, false, c.lines);
            } else if constexpr (std::is_same_v<C, Command::Key>) {
                auto code = KeyCode::named(c.name);
                if (!code) {
                    printer_.line("no key named \"" + c.name + "\"");
                } else {
                    Event event;
                    event.type = c.down ? EventType::keyDown : EventType::keyUp;
                    event.setInteger(IntegerField::keyCode, code->rawValue);
                    event.flags = simulated_->events.flagsState();
                    inject(event, true);
                }
            } else if constexpr (std::is_same_v<C, Command::Pause>) {
                onEngine([](Engine& engine) { engine.setPaused(true); });
            } else if constexpr (std::is_same_v<C, Command::Resume>) {
                onEngine([](Engine& engine) { engine.setPaused(false); });
            } else if constexpr (std::is_same_v<C, Command::Reapply>) {
                onEngine([](Engine& engine) { engine.reapplyAll(); });
            } else if constexpr (std::is_same_v<C, Command::Listen>) {
                onEngine([match = c.match](Engine& engine) { engine.listen(match); });
            } else if constexpr (std::is_same_v<C, Command::StopListening>) {
                onEngine([](Engine& engine) { engine.stopListening(); });
            } else if constexpr (std::is_same_v<C, Command::Wake>) {
                wakeSource_.wake();
            } else if constexpr (std::is_same_v<C, Command::Grant>) {
                const auto grant = c.granted ? PermissionState::Grant::granted
                                             : PermissionState::Grant::denied;
                c.accessibility ? simulated_->grants.setAccessibility(grant)
                                : simulated_->grants.setInputMonitoring(grant);
                printer_.line(fmt::format("{} {} (seen at the next poll, within a second)",
                                          c.accessibility ? "accessibility" : "input monitoring",
                                          c.granted ? "granted" : "revoked"));
            } else if constexpr (std::is_same_v<C, Command::Status>) {
                printer_.line(latest_ ? statusLine(*latest_) : "status: none published yet");
            } else if constexpr (std::is_same_v<C, Command::Mouse>) {
                if (const Device* d = device(c.device)) {
                    if (!d->isHidppMouse) {
                        printer_.line(fmt::format("device {} is no HID++ mouse", c.device));
                        return;
                    }
                    hid_.post([this, number = c.device, id = d->attached.interfaces.at(0)] {
                        VirtualHidppMouse* mouse = simulated_->hid.mouse(id);
                        if (!mouse) {
                            printer_.line(fmt::format("mouse {}: not attached", number));
                            return;
                        }
                        std::string text = fmt::format("mouse {}:", number);
                        for (const auto& control : mouse->description().controls) {
                            auto reporting = mouse->reporting(control.cid);
                            if (!reporting) continue;
                            text += fmt::format(" {}{}{}", hexText(control.cid, 2),
                                                reporting->divert ? " diverted" : " native",
                                                reporting->rawXY ? " with raw movement" : "");
                            text += ",";
                        }
                        if (auto wheel = mouse->thumbWheelReporting()) {
                            text += wheel->diverted ? " thumb wheel diverted" : " thumb wheel native";
                            if (wheel->inverted) text += " inverted";
                        }
                        if (!text.empty() && text.back() == ',') text.pop_back();
                        printer_.line(text);
                    });
                }
            } else if constexpr (std::is_same_v<C, Command::WaitApplied>) {
                waitApplied(c.seconds);
            } else if constexpr (std::is_same_v<C, Command::MouseFault> ||
                                 std::is_same_v<C, Command::HidutilFault>) {
                fault(c);
            } else if constexpr (std::is_same_v<C, Command::Quit>) {
                quit("asked to quit");
            }
        },
        command.value);
}

// --- Waiting for the devices ---

void Program::waitApplied(double seconds) {
    waiting_ = true;
    waitUntil_ = main_.clock().now() + std::chrono::duration_cast<Duration>(
                                           std::chrono::duration<double>(seconds));
    // The settings file as it is now: a save made just before the wait is what must be in force,
    // though the store sees it only a moment later.
    waitFor_.reset();
    waitForError_.reset();
    auto bytes = files::read(places_.config);
    waitRead_ = bytes.ok();
    if (bytes) {
        auto decoded = ConfigCodec::decode(*bytes);
        if (decoded.ok()) {
            waitFor_ = std::move(decoded).value();
        } else {
            waitForError_ = decoded.error();
        }
    }
    waitTimer_ = main_.schedule(waitUntil_, [this] { checkWait(); });
    checkWait();
}

void Program::checkWait() {
    if (!waiting_ || quitting_) return;
    if (main_.clock().now() >= waitUntil_) {
        waitEnded(false);
        return;
    }
    if (checking_) {
        lookAgain_ = true;
        return;
    }
    checking_ = true;
    hid_.post([this, expected = waitFor_] {
        const bool setUp = engineSetUp(*engine_, expected);
        // The engine published its status for the state just looked at before this job, so
        // when this reaches the main executor the status here is that one or a later one.
        main_.post([this, setUp] {
            checking_ = false;
            if (!waiting_ || quitting_) return;
            bool applied = setUp && latest_ && (!waitRead_ || latest_->configError == waitForError_);
            // Every attached device must also show as connected, configured or new: until the
            // engine has seen them, nothing is set up yet.
            for (const auto& [number, d] : devices_) {
                if (!applied) break;
                const DeviceMatch match = d.builtIn ? DeviceMatch::builtIn()
                                                    : DeviceMatch::device(VendorID{d.vendor},
                                                                          ProductID{d.product});
                bool connected = false;
                for (const auto* list : {&latest_->devices, &latest_->newDevices}) {
                    for (const auto& status : *list) {
                        if (status.match == match && status.connectedAt) connected = true;
                    }
                }
                applied = connected;
            }
            if (applied) {
                waitEnded(true);
                return;
            }
            if (std::exchange(lookAgain_, false)) {
                checkWait();
                return;
            }
            const Instant next = std::min(main_.clock().now() + waitLook, waitUntil_);
            waitTimer_ = main_.schedule(next, [this] { checkWait(); });
        });
    });
}

void Program::waitEnded(bool applied) {
    waiting_ = false;
    lookAgain_ = false;
    waitTimer_.cancel();
    printer_.line(applied ? "applied" : "not applied in time");
    runPending();
}

// --- Faults ---

void Program::fault(const Command::MouseFault& fault) {
    using Kind = Command::MouseFault::Kind;
    const Device* d = lastMouse(true);
    if (!d) return;
    simulated_->hid.act(d->attached.interfaces.at(0), [fault](VirtualHidppMouse& mouse, Instant) {
        auto& faults = mouse.faults;
        switch (fault.kind) {
            case Kind::drop:
                faults.dropReplies = fault.times;
                break;
            case Kind::delay:
                faults.delayReplies = fault.times;
                break;
            case Kind::cross:
                faults.crossReplies = fault.times;
                break;
            case Kind::refuse:
                // The set-reporting requests of the reprogrammable controls, answered "busy".
                faults.errors.push_back({static_cast<std::uint16_t>(HIDPPFeature::reprogControls),
                                         3, std::nullopt, 0x08, fault.times});
                break;
            case Kind::corrupt:
                faults.corruptReadBacks = fault.times;
                break;
            case Kind::clear:
                faults = VirtualMouseFaults{};
                break;
        }
    });
    static const char* const what[] = {"drops", "delays", "sends twice", "refuses", "misreports",
                                       "clear"};
    const char* text = what[static_cast<int>(fault.kind)];
    printer_.line(fault.kind == Kind::clear
                      ? fmt::format("device {}: faults cleared", d->number)
                      : fmt::format("device {}: {} {} {}", d->number, text, fault.times,
                                    fault.kind == Kind::corrupt ? "read-backs" : "replies"));
}

void Program::fault(const Command::HidutilFault& fault) {
    using Kind = Command::HidutilFault::Kind;
    simulated_->hidutilState.change([fault](nlohmann::json& state) {
        state["exitStatus"] = fault.kind == Kind::fail ? 1 : 0;
        for (auto& service : state["services"]) service["lags"] = fault.kind == Kind::lag;
    });
    printer_.line(fault.kind == Kind::lag    ? "hidutil: keyboard services ignore what is set"
                  : fault.kind == Kind::fail ? "hidutil: every run fails"
                                             : "hidutil: works again");
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
    hid_.post([this] {
        if (runStarted_) {
            run_.cancel();  // its end calls runEnded()
        } else {
            runRefused_ = true;
            main_.post([this] { runEnded(); });
        }
    });
}

void Program::runEnded() {
    if (!simulated_) {
        tap_.post([this] {
            const auto grabbed = world_.linuxWorld()->events.grabbedNodes();
            main_.post([this, grabbed] {
                report({fmt::format("at exit, event system: {} nodes grabbed", grabbed.size())});
            });
        });
        return;
    }
    std::vector<Device> devices;
    for (const auto& [number, d] : devices_) devices.push_back(d);
    hid_.post([this, devices] {
        std::vector<std::string> lines;
        for (const auto& d : devices) {
            std::string text = fmt::format("at exit, device {} ({}): ", d.number, d.name);
            if (d.isHidppMouse) {
                std::string list;
                for (const auto& item : simulated_->leftOver(d)) list += (list.empty() ? "" : ", ") + item;
                text += list.empty() ? "native" : "still diverted: " + list;
            } else {
                const std::size_t mapped = simulated_->keyMappingsLeft(d);
                text += mapped == 0 ? "key map empty" : fmt::format("{} key mappings left", mapped);
            }
            lines.push_back(text);
        }
        tap_.post([this, lines = std::move(lines)]() mutable {
            lines.push_back(fmt::format("at exit, event system: {} taps", simulated_->events.tapCount()));
            main_.post([this, lines = std::move(lines)] { report(lines); });
        });
    });
}

void Program::report(std::vector<std::string> lines) {
    if (reported_) return;
    reported_ = true;
    printing_.endBurst();
    for (const auto& line : lines) printer_.line(line);
    finished_.set_value(0);
}

}  // namespace tindlewave::headless
