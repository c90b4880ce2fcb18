#include "Runtime/Defaults.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

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
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state && fs::path(state).is_absolute()) return fs::path(state) / "tindlewave";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local" / "state" / "tindlewave";
}

std::string systemError() {
    return std::strerror(errno);
}

// Writes `text` to a temporary file beside `file`, flushes it and renames it over `file`, so the
// file holds either the old or the new content, never a part.
std::optional<DefaultsError> writeAtomically(const fs::path& file, const std::string& text) {
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    if (error) return DefaultsError{file.parent_path().string(), error.message()};
    fs::path temporary = file;
    temporary += ".tmp-" + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return DefaultsError{temporary.string(), systemError()};
    std::string_view rest = text;
    while (!rest.empty()) {
        auto written = ::write(fd, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            DefaultsError failure{temporary.string(), systemError()};
            ::close(fd);
            ::unlink(temporary.c_str());
            return failure;
        }
        rest.remove_prefix(std::size_t(written));
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        DefaultsError failure{temporary.string(), systemError()};
        ::unlink(temporary.c_str());
        return failure;
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        DefaultsError failure{file.string(), systemError()};
        ::unlink(temporary.c_str());
        return failure;
    }
    return std::nullopt;
}

}  // namespace

fs::path Defaults::defaultFile() {
    return stateFolder() / "defaults.json";
}

Defaults& Defaults::standard() {
    static Defaults defaults(defaultFile());
    return defaults;
}

Defaults::Defaults(fs::path file) : file_(std::move(file)), values_(std::make_unique<Values>()) {
    std::error_code error;
    if (!fs::exists(file_, error) && !error) return;  // nothing stored yet
    errno = 0;
    std::ifstream in(file_, std::ios::binary);
    if (!in || fs::is_directory(file_, error)) {
        loadError_ = DefaultsError{file_.string(), errno ? systemError() : "cannot be read"};
        return;
    }
    std::stringstream text;
    text << in.rdbuf();
    auto parsed = nlohmann::json::parse(text.str(), nullptr, false);
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
    return writeAtomically(
        file_,
        values_->object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
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
    return change([&](nlohmann::json& object) { object.erase(std::string(key)); });
}

}  // namespace tindlewave
