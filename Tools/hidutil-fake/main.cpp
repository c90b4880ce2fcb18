// A stand-in for the system's hidutil, for tests and the simulated world. It keeps keyboard
// services and their UserKeyMapping in a JSON state file named by TINDLEWAVE_HIDUTIL_STATE:
//
//   {
//     "services": [
//       {"id": 4294968510, "properties": {"VendorID": 1133, "ProductID": 50475,
//        "PrimaryUsagePage": 1, "PrimaryUsage": 6},
//        "mapping": [[30064771129, 30064771181]],   // [source, destination] pairs
//        "lags": false}                             // true: ignores every --set
//     ],
//     "exitStatus": 0,      // not 0: prints a failure and exits with it, changing nothing
//     "hang": false,        // true: never ends (until killed), changing nothing
//     "garbage": false,     // true: prints nonsense instead of the table
//     "delay": 0.0,         // seconds to wait before answering
//     "calls": [[...], ...], // every argument list received, appended by each run
//     "running": 0,         // runs under way now, and the most ever under way at once
//     "mostRunning": 0
//   }
//
// Understood: property [--matching <dict>] (--get UserKeyMapping | --set <dict>). The dictionaries
// may hold bare hexadecimal literals (0x46D), as the real tool accepts. The state file is locked
// for each run, since several devices run the tool side by side.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Linux/System/UniqueFd.h"

using nlohmann::json;
using tindlewave::UniqueFd;

namespace {

constexpr const char* stateVariable = "TINDLEWAVE_HIDUTIL_STATE";

// The dictionary text with every bare 0x literal outside strings turned into decimal; nothing
// when a literal does not fit 64 bits.
std::optional<std::string> withDecimalLiterals(const std::string& text) {
    std::string out;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            out.push_back(c);
            if (c == '\\' && i + 1 < text.size())
                out.push_back(text[++i]);
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
            out.push_back(c);
            continue;
        }
        if (c == '0' && i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            std::size_t end = i + 2;
            while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end]))) ++end;
            std::uint64_t value = 0;
            auto [stop, error] = std::from_chars(text.data() + i + 2, text.data() + end, value, 16);
            if (error != std::errc() || stop != text.data() + end) return std::nullopt;
            out += std::to_string(value);
            i = end - 1;
            continue;
        }
        out.push_back(c);
    }
    return out;
}

std::optional<json> parseDictionary(const std::string& text) {
    auto decimal = withDecimalLiterals(text);
    if (!decimal) return std::nullopt;
    json value = json::parse(*decimal, nullptr, false);
    if (value.is_discarded() || !value.is_object()) return std::nullopt;
    return value;
}

// The [source, destination] pairs of a --set dictionary; nothing unless it holds a UserKeyMapping
// list whose entries each name both as unsigned numbers.
std::optional<json> mappingOf(const json& dictionary) {
    auto list = dictionary.find("UserKeyMapping");
    if (list == dictionary.end() || !list->is_array()) return std::nullopt;
    json mapping = json::array();
    for (const auto& entry : *list) {
        if (!entry.is_object()) return std::nullopt;
        auto source = entry.find("HIDKeyboardModifierMappingSrc");
        auto destination = entry.find("HIDKeyboardModifierMappingDst");
        if (source == entry.end() || !source->is_number_unsigned() || destination == entry.end() ||
            !destination->is_number_unsigned())
            return std::nullopt;
        mapping.push_back({*source, *destination});
    }
    return mapping;
}

bool matches(const json& service, const std::optional<json>& matching) {
    if (!matching) return true;
    const json& properties = service.value("properties", json::object());
    for (const auto& [key, wanted] : matching->items()) {
        if (!properties.contains(key) || properties[key] != wanted) return false;
    }
    return true;
}

std::string table(const json& state, const std::optional<json>& matching) {
    std::ostringstream out;
    out << "RegistryID  Key                   Value\n";
    for (const auto& service : state["services"]) {
        if (!matches(service, matching)) continue;
        char id[32];
        std::snprintf(id, sizeof id, "%llx",
                      static_cast<unsigned long long>(service["id"].get<std::uint64_t>()));
        out << id << "   UserKeyMapping   ";
        const json& mapping = service.value("mapping", json::array());
        if (mapping.empty()) {
            out << "(null)\n";
            continue;
        }
        out << "(\n";
        for (std::size_t i = 0; i < mapping.size(); ++i) {
            out << "        {\n"
                << "        HIDKeyboardModifierMappingDst = " << mapping[i][1].get<std::uint64_t>()
                << ";\n"
                << "        HIDKeyboardModifierMappingSrc = " << mapping[i][0].get<std::uint64_t>()
                << ";\n"
                << (i + 1 < mapping.size() ? "    },\n" : "    }\n");
        }
        out << ")\n";
    }
    return out.str();
}

// The state of an open, locked state file (discarded when it is not a JSON object).
json loadState(int fd) {
    std::string content;
    char buffer[8192];
    for (ssize_t got; (got = ::pread(fd, buffer, sizeof buffer, content.size())) > 0;)
        content.append(buffer, got);
    return json::parse(content, nullptr, false);
}

void saveState(int fd, const json& state) {
    std::string written = state.dump(2) + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, written.data(), written.size(), 0) != static_cast<ssize_t>(written.size())) {
        std::cerr << "hidutil: cannot write the state file\n";
    }
}

// Counts this run as over. A hanging run never is; nobody asks about it afterwards.
void finishRun(const char* statePath) {
    const UniqueFd fd(::open(statePath, O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.isOpen()) return;
    ::flock(fd.get(), LOCK_EX);
    json state = loadState(fd.get());
    if (state.is_object()) {
        state["running"] = state.value("running", 1) - 1;
        saveState(fd.get(), state);
    }
    ::flock(fd.get(), LOCK_UN);
}

int usage(const std::string& why) {
    std::cout << "hidutil: " << why << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const char* statePath = std::getenv(stateVariable);
    if (statePath == nullptr) return usage(std::string(stateVariable) + " is not set");

    UniqueFd fd(::open(statePath, O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.isOpen()) return usage(std::string("cannot open ") + statePath);
    ::flock(fd.get(), LOCK_EX);

    json state = loadState(fd.get());
    if (state.is_discarded() || !state.is_object()) return usage("the state file is not a JSON object");
    if (!state.contains("services")) state["services"] = json::array();
    state["calls"].push_back(arguments);
    state["running"] = state.value("running", 0) + 1;
    state["mostRunning"] = std::max(state.value("mostRunning", 0), state.value("running", 0));

    std::optional<json> matching;
    std::optional<json> set;  // the pairs to set
    bool get = false;
    std::string failure;
    if (arguments.empty() || arguments[0] != "property") failure = "unknown command";
    for (std::size_t i = 1; failure.empty() && i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        bool hasValue = i + 1 < arguments.size();
        if (option == "--matching" && hasValue) {
            matching = parseDictionary(arguments[++i]);
            if (!matching) failure = "cannot parse the matching dictionary";
        } else if (option == "--get" && hasValue) {
            get = arguments[++i] == "UserKeyMapping";
            if (!get) failure = "unknown property";
        } else if (option == "--set" && hasValue) {
            auto dictionary = parseDictionary(arguments[++i]);
            if (dictionary) set = mappingOf(*dictionary);
            if (!set) failure = "cannot parse the property dictionary";
        } else {
            failure = "unknown option " + option;
        }
    }
    if (failure.empty() && !get && !set) failure = "nothing to get or set";

    const int exitStatus = state.value("exitStatus", 0);
    const bool hang = state.value("hang", false);
    if (failure.empty() && exitStatus == 0 && !hang && set) {
        for (auto& service : state["services"]) {
            if (matches(service, matching) && !service.value("lags", false))
                service["mapping"] = *set;
        }
    }
    std::string output = state.value("garbage", false)
                             ? std::string("\x01\xff garbage { = ; }} 0xZZ\n(\n")
                             : table(state, matching);
    const double delay = state.value("delay", 0.0);

    saveState(fd.get(), state);
    ::flock(fd.get(), LOCK_UN);
    fd.reset();

    if (delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    if (hang) {
        for (;;) ::pause();
    }
    finishRun(statePath);
    if (!failure.empty()) return usage(failure);
    if (exitStatus != 0) {
        std::cout << "hidutil: failed on purpose\n";
        return exitStatus;
    }
    std::cout << output;
    return 0;
}
