// The commands, in order, and those that work in either world.

#include "Program.h"

#include <fmt/format.h>

namespace tindlewave::headless {

namespace {
// The longest a command's effects are followed before the next command runs anyway (a mouse
// told to delay its replies, a scroll that does not end).
constexpr auto settleLimit = std::chrono::seconds(5);

// What acts on simulated devices needs them; the rest works over the real devices too.
bool actsOnSimulatedDevices(const Command& command) {
    return !(std::holds_alternative<Command::Help>(command.value) ||
             std::holds_alternative<Command::Devices>(command.value) ||
             std::holds_alternative<Command::Pause>(command.value) ||
             std::holds_alternative<Command::Resume>(command.value) ||
             std::holds_alternative<Command::Reapply>(command.value) ||
             std::holds_alternative<Command::Listen>(command.value) ||
             std::holds_alternative<Command::StopListening>(command.value) ||
             std::holds_alternative<Command::Wake>(command.value) ||
             std::holds_alternative<Command::Status>(command.value) ||
             std::holds_alternative<Command::WaitApplied>(command.value) ||
             std::holds_alternative<Command::Quit>(command.value));
}
}  // namespace

std::optional<std::pair<LineReader::Line, const char*>> Program::nextLine() {
    if (!pending_.empty()) {
        auto line = std::move(pending_.front());
        pending_.pop_front();
        return std::pair{std::move(line), "the script"};
    }
    if (auto line = input_ ? input_->take() : std::nullopt) return std::pair{std::move(*line), "standard input"};
    return std::nullopt;
}

void Program::runPending() {
    while (!quitting_ && !waiting_ && !settling_) {
        auto next = nextLine();
        if (!next) break;
        const auto& [line, source] = *next;
        if (line.tooLong) {
            printer_.line(fmt::format("{}, line {}: longer than the line-length limit of {} bytes, not run",
                                      source, line.number, LineReader::lineLengthLimit));
            continue;
        }
        auto parsed = parseCommand(line.text);
        if (parsed.error) printer_.line(*parsed.error);
        if (!parsed.command) continue;
        perform(*parsed.command);
        if (!quitting_ && !waiting_) settle(main_.clock().now() + settleLimit);
    }
    if (!quitting_ && !waiting_ && !settling_ && pending_.empty() && input_ && input_->ended()) {
        quit("the input ended");
    }
}

void Program::perform(const Command& command) {
    if (actsOnSimulatedDevices(command) && !simulating()) return;
    std::visit([this](const auto& c) { perform(c); }, command.value);
}

bool Program::simulating() {
    if (simulated_) return true;
    printer_.line("this command acts on simulated devices: start with --simulate");
    return false;
}

void Program::onEngine(std::function<void(Engine&)> call) {
    Engine& engine = *engine_;
    hid_.post([&engine, call = std::move(call)] { call(engine); });
}

void Program::perform(const Command::Help&) { printer_.lines(commandHelp()); }

void Program::perform(const Command::Devices&) {
    if (simulated_) {
        listSimulatedDevices();
    } else {
        listRealDevices();
    }
}

void Program::perform(const Command::Pause&) {
    onEngine([](Engine& engine) { engine.setPaused(true); });
}

void Program::perform(const Command::Resume&) {
    onEngine([](Engine& engine) { engine.setPaused(false); });
}

void Program::perform(const Command::Reapply&) {
    onEngine([](Engine& engine) { engine.reapplyAll(); });
}

void Program::perform(const Command::Listen& listen) {
    onEngine([match = listen.match](Engine& engine) { engine.listen(match); });
}

void Program::perform(const Command::StopListening&) {
    onEngine([](Engine& engine) { engine.stopListening(); });
}

void Program::perform(const Command::Wake&) { assembly_.wake(); }

void Program::perform(const Command::Status&) {
    printer_.line(latest_ ? statusLine(*latest_) : "status: none published yet");
}

void Program::perform(const Command::WaitApplied& wait) { waitApplied(wait.seconds); }

void Program::perform(const Command::Quit&) { quit("asked to quit"); }

}  // namespace tindlewave::headless
