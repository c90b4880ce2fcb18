#include "Runtime/Stores/Defaults.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "Platform/Linux/System/Files.h"

namespace tindlewave {

namespace fs = std::filesystem;

struct Defaults::Values {
    nlohmann::json object = nlohmann::json::object();

    const nlohmann::json* find(std::string_view key) const {
        auto it = object.find(key);
        return it == object.end() ? nullptr : &*it;
    }
};

namespace {

fs::path stateFolder() {
    return fs::path(files::baseFolder("XDG_STATE_HOME", ".local/state")) / "tindlewave";
}

// The program writes texts, Booleans, integers and lists of texts under the top object: two levels.
constexpr std::size_t writtenNesting = 2;

// How deeply objects and lists nest in JSON text, strings skipped. Counted before parsing: a value
// nested far deeper than the program writes would overflow the stack of the recursive printer at
// the next save.
std::size_t nesting(std::string_view text) {
    std::size_t depth = 0;
    std::size_t deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == '}' || c == ']') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

}  // namespace

fs::path Defaults::defaultFile() {
    return stateFolder() / "defaults.json";
}

Defaults& Defaults::standard() {
    // Never destroyed: the engine's executor thread may use it until the program's statics are
    // torn down, whichever was made first. Every change is written at once.
    static Defaults* const defaults = new Defaults(defaultFile());
    return *defaults;
}

Defaults::Defaults(fs::path file) : file_(std::move(file)), values_(std::make_unique<Values>()) {
    files::removeStaleTemporaries(file_.string());  // left by a process killed mid-write
    auto text = files::read(file_.string());
    if (!text.ok()) {
        // A missing file or folder: nothing stored yet.
        if (text.error().code != ENOENT && text.error().code != ENOTDIR)
            loadError_ = DefaultsError{file_.string(), text.error().description};
        return;
    }
    if (nesting(*text) > writtenNesting) {
        loadError_ = DefaultsError{file_.string(), "nested deeper than " +
                                                       std::to_string(writtenNesting) + " levels"};
        return;
    }
    auto parsed = nlohmann::json::parse(*text, nullptr, false);
    if (parsed.is_discarded()) {
        loadError_ = DefaultsError{file_.string(), "not valid JSON"};
    } else if (!parsed.is_object()) {
        loadError_ = DefaultsError{file_.string(), "not a JSON object"};
    } else {
        values_->object = std::move(parsed);
    }
}

Defaults::~Defaults() = default;

bool Defaults::contains(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return values_->find(key) != nullptr;
}

std::optional<std::string> Defaults::string(std::string_view key) const {
    std::lock_guard lock(mutex_);
    auto* value = values_->find(key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

std::optional<bool> Defaults::boolean(std::string_view key) const {
    std::lock_guard lock(mutex_);
    auto* value = values_->find(key);
    if (!value || !value->is_boolean()) return std::nullopt;
    return value->get<bool>();
}

std::optional<std::int64_t> Defaults::integer(std::string_view key) const {
    std::lock_guard lock(mutex_);
    auto* value = values_->find(key);
    if (!value || !value->is_number_integer()) return std::nullopt;
    return value->get<std::int64_t>();
}

std::optional<std::vector<std::string>> Defaults::stringArray(std::string_view key) const {
    std::lock_guard lock(mutex_);
    auto* value = values_->find(key);
    if (!value || !value->is_array()) return std::nullopt;
    std::vector<std::string> strings;
    for (const auto& item : *value) {
        if (!item.is_string()) return std::nullopt;
        strings.push_back(item.get<std::string>());
    }
    return strings;
}

template <class Change>
std::optional<DefaultsError> Defaults::change(Change&& change) {
    std::lock_guard lock(mutex_);
    change(values_->object);
    return save();
}

std::optional<DefaultsError> Defaults::save() const {
    auto folder = files::makeFolders(file_.parent_path().string());
    if (!folder.ok())
        return DefaultsError{file_.parent_path().string(), folder.error().description};
    auto text = values_->object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    auto written = files::writeAtomically(file_.string(), text + "\n");
    if (!written.ok()) return DefaultsError{file_.string(), written.error().description};
    return std::nullopt;
}

std::optional<DefaultsError> Defaults::set(std::string_view key, std::string_view value) {
    return change([&](nlohmann::json& object) { object[std::string(key)] = value; });
}

std::optional<DefaultsError> Defaults::set(std::string_view key, bool value) {
    return change([&](nlohmann::json& object) { object[std::string(key)] = value; });
}

std::optional<DefaultsError> Defaults::set(std::string_view key, std::int64_t value) {
    return change([&](nlohmann::json& object) { object[std::string(key)] = value; });
}

std::optional<DefaultsError> Defaults::set(std::string_view key,
                                           const std::vector<std::string>& value) {
    return change([&](nlohmann::json& object) { object[std::string(key)] = value; });
}

std::optional<DefaultsError> Defaults::remove(std::string_view key) {
    std::lock_guard lock(mutex_);
    // Nothing to remove is no change: the file is not written (and synced) again. The quit
    // clears the divert record this way on every run.
    auto found = values_->object.find(key);
    if (found == values_->object.end()) return std::nullopt;
    values_->object.erase(found);
    return save();
}

std::optional<DefaultsError> Defaults::addToStringArray(std::string_view key,
                                                        std::string_view value) {
    std::lock_guard lock(mutex_);
    auto* found = values_->find(key);
    nlohmann::json array = nlohmann::json::array();
    if (found && found->is_array() &&
        std::all_of(found->begin(), found->end(),
                    [](const auto& item) { return item.is_string(); }))
        array = *found;
    for (const auto& item : array)
        if (item.get_ref<const std::string&>() == value) return std::nullopt;
    array.push_back(value);
    values_->object[std::string(key)] = std::move(array);
    return save();
}

}  // namespace tindlewave
