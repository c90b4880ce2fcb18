#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "Model/Config.h"
#include "Model/ConfigError.h"
#include "Model/Result.h"

namespace tindlewave {

// Why a configuration or record could not be written: "unnamed key" (a key without a name in the
// key table), "not a finite number" or "not valid UTF-8".
struct EncodeError {
    std::string message;

    bool operator==(const EncodeError&) const = default;
};

// The codec of the configuration file.
namespace ConfigCodec {

// The file's bytes to a configuration that passed every check, or the first problem found: the
// JSON syntax, then reading, then nulls and unknown keys, then validation. Once `stop` is
// requested (from any thread) the decoding ends early, within each parse and between its steps,
// with `stopped`; a caller that asks for the stop drops what it gets.
Result<Config, ConfigError> decode(std::string_view bytes, const std::stop_token& stop = {});

inline constexpr std::string_view stopped = "the decoding was stopped";

// The bytes to write: pretty-printed UTF-8 JSON with sorted keys and one line feed at the end.
// Does not check the configuration; fails without any output when something cannot be written.
Result<std::string, EncodeError> encode(const Config& config);

// The first value, range or rule problem of a configuration that was read, or none.
std::optional<ConfigError> validate(const Config& config);

// One record in its file form as compact JSON (sorted keys, no whitespace, slashes unescaped), for
// log lines.
Result<std::string, EncodeError> compact(const DeviceMatch& match);
Result<std::string, EncodeError> compact(const Rule& rule);
Result<std::string, EncodeError> compact(const Control& control);
Result<std::string, EncodeError> compact(const Trigger& trigger);
Result<std::string, EncodeError> compact(const Action& action);
Result<std::string, EncodeError> compact(const SpeedCurve& curve);
Result<std::string, EncodeError> compact(const SmoothScroll& smooth);
Result<std::string, EncodeError> compact(const HoldToScroll& hold);
Result<std::string, EncodeError> compact(std::string_view text);

}  // namespace ConfigCodec

}  // namespace tindlewave
