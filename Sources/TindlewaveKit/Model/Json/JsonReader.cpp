#include "Model/Json/JsonReader.h"

#include <cmath>
#include <limits>

#include "Model/Json/JsonWriter.h"

namespace tindlewave::json {

namespace {

// The parser's messages start with the library's own tag ("[json.exception.parse_error.101] ")
// and may quote the bytes it last read, which need not be UTF-8. Drop the tag and replace every
// malformed byte with U+FFFD, so that the message can be shown, logged and written as JSON.
std::string parserAccount(std::string_view what) {
    if (what.starts_with("[json.exception.")) {
        const auto end = what.find("] ");
        if (end != std::string_view::npos) what.remove_prefix(end + 2);
    }
    std::string account;
    account.reserve(what.size());
    for (std::size_t i = 0; i < what.size();) {
        std::size_t length = 1;
        while (length <= 4 && i + length <= what.size() && !isValidUtf8(what.substr(i, length))) {
            ++length;
        }
        if (length <= 4 && i + length <= what.size()) {
            account.append(what.substr(i, length));
            i += length;
        } else {
            account.append("\xEF\xBF\xBD");
            ++i;
        }
    }
    return account;
}

// Builds the tree as the library's own parse does, and ends the parse once a stop is requested:
// it looks at every object and list it opens, so even one long list is left early.
class StoppableTreeBuilder : public nlohmann::detail::json_sax_dom_parser<Json> {
  public:
    StoppableTreeBuilder(Json& document, const std::stop_token& stop)
        : json_sax_dom_parser(document), stop_(stop) {}

    bool start_object(std::size_t count) {
        return !stop_.stop_requested() && json_sax_dom_parser::start_object(count);
    }
    bool start_array(std::size_t count) {
        return !stop_.stop_requested() && json_sax_dom_parser::start_array(count);
    }

  private:
    const std::stop_token& stop_;
};

[[noreturn]] void fail(ReadFault::Kind kind, const JsonPath& path, std::string text) {
    throw ReadFailure(ReadFault{kind, path.components(), std::move(text)});
}

}  // namespace

std::vector<PathKey> JsonPath::components() const {
    std::vector<const JsonPath*> chain;
    for (const JsonPath* node = this; node->parent_ != nullptr; node = node->parent_) {
        chain.push_back(node);
    }
    std::vector<PathKey> keys;
    keys.reserve(chain.size());
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const JsonPath& node = **it;
        keys.push_back(node.isIndex_ ? PathKey(static_cast<int>(node.index_))
                                     : PathKey(std::string(node.key_)));
    }
    return keys;
}

std::string JsonPath::text() const {
    return ConfigError::renderPath(components());
}

ConfigError configError(const ReadFault& fault) {
    switch (fault.kind) {
        case ReadFault::Kind::typeMismatch:
        case ReadFault::Kind::valueNotFound:
            return ConfigError{ConfigError::renderPath(fault.path), "expected " + fault.text};
        case ReadFault::Kind::keyNotFound: {
            auto path = fault.path;
            path.push_back(PathKey(fault.text));
            return ConfigError{ConfigError::renderPath(path), "missing key"};
        }
        case ReadFault::Kind::dataCorrupted:
            return ConfigError{ConfigError::renderPath(fault.path), fault.text};
    }
    return ConfigError{"", fault.text};
}

Result<Json, std::string> parseDocument(std::string_view bytes, const std::stop_token& stop) {
    // The parser takes a NUL byte for the end of its input and would accept whatever follows it;
    // JSON text never holds one, escaped strings included.
    if (const auto nul = bytes.find('\0'); nul != std::string_view::npos) {
        return "syntax error at byte " + std::to_string(nul + 1) +
               ": a NUL byte, which JSON text never holds";
    }
    Json document;
    try {
        StoppableTreeBuilder builder(document, stop);
        if (!Json::sax_parse(bytes.begin(), bytes.end(), &builder)) return std::string(parseStopped);
    } catch (const Json::exception& error) {
        return parserAccount(error.what());
    }
    if (!document.is_object() && !document.is_array()) {
        return std::string("the top level is ") + document.type_name() +
               ", not an object or a list";
    }
    return document;
}

void failType(const Json& value, const JsonPath& path, std::string_view expected) {
    fail(value.is_null() ? ReadFault::Kind::valueNotFound : ReadFault::Kind::typeMismatch, path,
         std::string(expected));
}

void failData(const JsonPath& path, std::string message) {
    fail(ReadFault::Kind::dataCorrupted, path, std::move(message));
}

const Json::object_t& readObject(const Json& value, const JsonPath& path) {
    if (!value.is_object()) failType(value, path, expectedObject);
    return value.get_ref<const Json::object_t&>();
}

const Json::array_t& readList(const Json& value, const JsonPath& path) {
    if (!value.is_array()) failType(value, path, expectedList);
    return value.get_ref<const Json::array_t&>();
}

const std::string& readString(const Json& value, const JsonPath& path) {
    if (!value.is_string()) failType(value, path, expectedString);
    return value.get_ref<const std::string&>();
}

bool readBool(const Json& value, const JsonPath& path) {
    if (!value.is_boolean()) failType(value, path, expectedBool);
    return value.get<bool>();
}

double readDouble(const Json& value, const JsonPath& path) {
    switch (value.type()) {
        case Json::value_t::number_integer:
            return static_cast<double>(value.get<std::int64_t>());
        case Json::value_t::number_unsigned:
            return static_cast<double>(value.get<std::uint64_t>());
        case Json::value_t::number_float:
            return value.get<double>();
        default:
            failType(value, path, expectedNumber);
    }
}

std::int64_t readInteger(const Json& value, const JsonPath& path) {
    switch (value.type()) {
        case Json::value_t::number_integer:
            return value.get<std::int64_t>();
        case Json::value_t::number_unsigned: {
            const auto number = value.get<std::uint64_t>();
            if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                failData(path, std::to_string(number) + " is too large for this field");
            }
            return static_cast<std::int64_t>(number);
        }
        case Json::value_t::number_float: {
            const double number = value.get<double>();
            const std::string text = jsonNumberText(number).value_or("the number");
            if (std::trunc(number) != number) failData(path, text + " is not a whole number");
            // 2^63 is the first double outside the 64-bit range. Every number from just below
            // -2^63 down to -2^63 - 1024 rounds to -2^63 itself, so that value cannot be told
            // from one out of range and is refused too (no integer field comes near it).
            if (!(number > -9223372036854775808.0 && number < 9223372036854775808.0)) {
                failData(path, text + " is too large for this field");
            }
            return static_cast<std::int64_t>(number);
        }
        default:
            failType(value, path, expectedNumber);
    }
}

const Json& requiredMember(const Json::object_t& object, std::string_view key,
                           const JsonPath& objectPath) {
    const auto found = object.find(key);
    if (found == object.end()) fail(ReadFault::Kind::keyNotFound, objectPath, std::string(key));
    return found->second;
}

const Json* optionalMember(const Json::object_t& object, std::string_view key) {
    const auto found = object.find(key);
    if (found == object.end() || found->second.is_null()) return nullptr;
    return &found->second;
}

bool hasKey(const Json::object_t& object, std::string_view key) {
    return object.find(key) != object.end();
}

}  // namespace tindlewave::json
