#include "Platform/Linux/Desktop/XdgAutostart.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "Platform/Linux/System/Files.h"
#include "Platform/Linux/System/SystemError.h"

namespace tindlewave {

namespace {

// Characters that make an Exec argument need quoting (Desktop Entry rules).
bool isReserved(char c) {
    return std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos;
}

// One Exec argument: quoted when it holds a reserved character, with "%" doubled.
std::string execArgument(std::string_view program) {
    bool quote = false;
    for (char c : program) quote = quote || isReserved(c);
    std::string argument = quote ? "\"" : "";
    for (char c : program) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) argument += '\\';
        argument += c;
        if (c == '%') argument += '%';
    }
    if (quote) argument += '"';
    return argument;
}

// A value as the file holds it: backslashes and control characters escaped.
std::string escapeValue(std::string_view value) {
    std::string escaped;
    for (char c : value) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string unescapeValue(std::string_view value) {
    std::string plain;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            plain += value[i];
            continue;
        }
        switch (value[++i]) {
            case 's':
                plain += ' ';
                break;
            case 'n':
                plain += '\n';
                break;
            case 't':
                plain += '\t';
                break;
            case 'r':
                plain += '\r';
                break;
            default:
                plain += value[i];
        }
    }
    return plain;
}

std::string_view trim(std::string_view text) {
    auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The value of `key` in the [Desktop Entry] group, as the file holds it.
std::optional<std::string_view> entryValue(std::string_view entry, std::string_view key) {
    bool inGroup = false;
    while (!entry.empty()) {
        auto end = entry.find('\n');
        auto line = trim(entry.substr(0, end));
        entry = end == std::string_view::npos ? std::string_view() : entry.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inGroup = line == "[Desktop Entry]";
            continue;
        }
        auto equals = line.find('=');
        if (inGroup && equals != std::string_view::npos && trim(line.substr(0, equals)) == key)
            return trim(line.substr(equals + 1));
    }
    return std::nullopt;
}

std::string failure(std::string_view what, const std::filesystem::path& file,
                    const SystemError& error) {
    return std::string(what) + " " + file.string() + ": " + error.description;
}

}  // namespace

XdgAutostart::XdgAutostart(std::filesystem::path folder, ProgramPath program)
    : folder_(std::move(folder)), program_(std::move(program)) {}

XdgAutostart::XdgAutostart(std::filesystem::path folder, std::optional<std::string> program)
    : XdgAutostart(std::move(folder), ProgramPath([program] { return program; })) {}

std::filesystem::path XdgAutostart::defaultFolder() {
    return std::filesystem::path(files::baseFolder("XDG_CONFIG_HOME", ".config")) / "autostart";
}

std::optional<std::string> XdgAutostart::runningProgram() {
    std::vector<char> buffer(4096);
    ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || std::size_t(length) >= buffer.size()) return std::nullopt;
    return std::string(buffer.data(), std::size_t(length));
}

std::string XdgAutostart::entryText(std::string_view program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tindlewave\n"
           "Exec=" +
           escapeValue(execArgument(program)) + "\n";
}

std::optional<std::string> XdgAutostart::execProgram(std::string_view entry) {
    auto value = entryValue(entry, "Exec");
    if (!value) return std::nullopt;
    std::string exec = unescapeValue(*value);
    std::string program;
    std::size_t i = 0;
    if (!exec.empty() && exec[0] == '"') {
        for (i = 1; i < exec.size() && exec[i] != '"'; ++i) {
            if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
            program += exec[i];
        }
    } else {
        for (; i < exec.size() && exec[i] != ' ' && exec[i] != '\t'; ++i) program += exec[i];
    }
    std::string plain;
    for (std::size_t j = 0; j < program.size(); ++j) {
        plain += program[j];
        if (program[j] == '%' && j + 1 < program.size() && program[j + 1] == '%') ++j;
    }
    return plain;
}

bool XdgAutostart::isHidden(std::string_view entry) {
    auto value = entryValue(entry, "Hidden");
    return value && *value == "true";
}

bool XdgAutostart::isOurs(std::string_view entry) const {
    auto program = execProgram(entry);
    return program && std::filesystem::path(*program).filename() == "tindlewave";
}

LoginItemState XdgAutostart::status() const {
    auto entry = files::read(file().string());
    if (!entry) return LoginItemState::off;
    return isOurs(*entry) && !isHidden(*entry) ? LoginItemState::on : LoginItemState::off;
}

std::optional<std::string> XdgAutostart::enable() {
    std::optional<std::string> program = program_();
    if (!program) return "cannot find the path of the running program";
    // The running program's file was replaced: the entry starts the one now in its place.
    constexpr std::string_view deleted = " (deleted)";
    if (program->ends_with(deleted)) {
        program->resize(program->size() - deleted.size());
        std::error_code ignored;
        if (!std::filesystem::is_regular_file(*program, ignored))
            return "the program was removed from " + *program +
                   " while it runs; start Tindlewave from where it is now, then switch this on";
    }
    if (auto made = files::makeFolders(folder_.string()); !made)
        return failure("cannot write", file(), made.error());
    if (auto written = files::writeAtomically(file().string(), entryText(*program)); !written)
        return failure("cannot write", file(), written.error());
    return std::nullopt;
}

std::optional<std::string> XdgAutostart::disable() {
    auto entry = files::read(file().string());
    if (!entry) {
        if (entry.error().code == ENOENT || entry.error().code == ENOTDIR) return std::nullopt;
        return failure("cannot read", file(), entry.error());
    }
    if (!isOurs(*entry)) return std::nullopt;  // someone else's entry under our name
    if (::unlink(file().c_str()) != 0 && errno != ENOENT)
        return failure("cannot remove", file(), SystemError::fromErrno());
    return std::nullopt;
}

}  // namespace tindlewave
