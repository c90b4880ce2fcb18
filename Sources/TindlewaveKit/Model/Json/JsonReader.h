#pragma once

// The reading side of the JSON layer: parsing into nlohmann's tree and typed readers that know
// where in the document they are. Only the codec's own sources include this header; the rest of the
// kit sees ConfigCodec.h, which does not carry the JSON library.

#include <cstdint>
#include <exception>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "Model/ConfigError.h"
#include "Model/Result.h"

namespace tindlewave::json {

using Json = nlohmann::json;

// A place in the document, kept as a chain of stack frames while reading or walking, so that the
// path text is only made when something fails.
class JsonPath {
  public:
    // The document itself (the empty path).
    JsonPath() = default;

    JsonPath child(std::string_view key) const& { return JsonPath(this, key, 0, false); }
    JsonPath at(std::size_t index) const& { return JsonPath(this, {}, index, true); }
    // A path made from a temporary would point at a frame that is gone by the next statement.
    JsonPath child(std::string_view key) const&& = delete;
    JsonPath at(std::size_t index) const&& = delete;

    std::vector<PathKey> components() const;
    // "devices[0].rules[2].when"
    std::string text() const;

  private:
    JsonPath(const JsonPath* parent, std::string_view key, std::size_t index, bool isIndex)
        : parent_(parent), key_(key), index_(index), isIndex_(isIndex) {}

    const JsonPath* parent_ = nullptr;
    std::string_view key_;
    std::size_t index_ = 0;
    bool isIndex_ = false;
};

// A structural fault met while reading the document into records.
struct ReadFault {
    enum class Kind {
        typeMismatch,   // the value has the wrong JSON type; `text` is the expected type
        valueNotFound,  // null where a value is required; `text` is the expected type
        keyNotFound,    // a required key is missing; `text` is the key
        dataCorrupted,  // the value's form is wrong; `text` is the message
    };

    Kind kind;
    std::vector<PathKey> path;
    std::string text;

    bool operator==(const ReadFault&) const = default;
};

// The configuration error that the user sees for a reading fault: "expected a string" and the
// like at the value's path, "missing key" at the missing key's path, or the fault's own message.
ConfigError configError(const ReadFault& fault);

// Thrown by the readers below and caught where reading starts: reading stops at its first fault.
class ReadFailure : public std::exception {
  public:
    explicit ReadFailure(ReadFault fault) : fault_(std::move(fault)) {}
    const ReadFault& fault() const { return fault_; }
    const char* what() const noexcept override { return "configuration reading fault"; }

  private:
    ReadFault fault_;
};

// Parses a whole document. The top level must be an object or a list; anything else, and every
// syntax fault, gives the parser's account of the problem (valid UTF-8, without the library's
// prefix). Duplicate keys in one object keep the last value. Once `stop` is requested the parse
// ends at the next object or list it meets, with `parseStopped`.
Result<Json, std::string> parseDocument(std::string_view bytes, const std::stop_token& stop = {});

inline constexpr std::string_view parseStopped = "the parse was stopped";

// The expected-type texts of the reading faults.
inline constexpr std::string_view expectedString = "a string";
inline constexpr std::string_view expectedBool = "true or false";
inline constexpr std::string_view expectedNumber = "a number";
inline constexpr std::string_view expectedList = "a list";
inline constexpr std::string_view expectedObject = "an object";

[[noreturn]] void failType(const Json& value, const JsonPath& path, std::string_view expected);
[[noreturn]] void failData(const JsonPath& path, std::string message);

const Json::object_t& readObject(const Json& value, const JsonPath& path);
const Json::array_t& readList(const Json& value, const JsonPath& path);
const std::string& readString(const Json& value, const JsonPath& path);
bool readBool(const Json& value, const JsonPath& path);
double readDouble(const Json& value, const JsonPath& path);
// A whole number; one written with a zero fraction ("4.0") counts, "4.5" or a number beyond the
// 64-bit range fails at the path.
std::int64_t readInteger(const Json& value, const JsonPath& path);

// A required member: fails with "missing key" when the key is not there. A null value is returned
// as it is, so the typed reader reports it as a null in a required place.
const Json& requiredMember(const Json::object_t& object, std::string_view key,
                           const JsonPath& objectPath);
// An optional member: none when the key is missing or its value is null (the walk for unknown keys
// reports such a null later).
const Json* optionalMember(const Json::object_t& object, std::string_view key);
// Whether the key is there at all, null or not.
bool hasKey(const Json::object_t& object, std::string_view key);

}  // namespace tindlewave::json
