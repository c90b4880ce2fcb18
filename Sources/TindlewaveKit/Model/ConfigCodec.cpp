#include "Model/ConfigCodec.h"

#include "Model/Json/ConfigReader.h"
#include "Model/Json/ConfigWalk.h"
#include "Model/Json/ConfigWriter.h"

namespace tindlewave::ConfigCodec {

namespace {

template <class T>
Result<std::string, EncodeError> encoded(const T& value, JsonWriter::Layout layout,
                                         std::size_t reserve) {
    JsonWriter out(layout, reserve);
    json::write(out, value);
    out.finish();
    if (out.failure()) return EncodeError{*out.failure()};
    return out.take();
}

}  // namespace

Result<Config, ConfigError> decode(std::string_view bytes, const std::stop_token& stop) {
    const ConfigError stoppedError{"", std::string(stopped)};
    auto document = json::parseDocument(bytes, stop);
    if (stop.stop_requested()) return stoppedError;
    if (!document.ok()) return ConfigError{"", "not valid JSON. " + document.error()};

    Config config;
    try {
        config = json::readConfig(*document);
    } catch (const json::ReadFailure& failure) {
        return json::configError(failure.fault());
    }
    if (stop.stop_requested()) return stoppedError;

    // What the reader understood, in the writer's own form: the schema for the walk. The compact
    // layout gives the same tree as the file layout, for less text to parse.
    auto reencoded = encoded(config, JsonWriter::Layout::compact, bytes.size());
    if (!reencoded.ok()) return ConfigError{"", reencoded.error().message};
    if (stop.stop_requested()) return stoppedError;
    auto schema = json::parseDocument(*reencoded, stop);
    if (stop.stop_requested()) return stoppedError;
    if (!schema.ok()) return ConfigError{"", "not valid JSON. " + schema.error()};

    if (auto problem = unknownKey(*document, *schema)) return *problem;
    if (stop.stop_requested()) return stoppedError;
    if (auto problem = validate(config)) return *problem;
    return config;
}

Result<std::string, EncodeError> encode(const Config& config) {
    // About 1.2 kB per device with rules and scrolling settings.
    return encoded(config, JsonWriter::Layout::pretty, 256 + 1536 * config.devices.size());
}

Result<std::string, EncodeError> compact(const DeviceMatch& match) {
    return encoded(match, JsonWriter::Layout::compact, 48);
}
Result<std::string, EncodeError> compact(const Rule& rule) {
    return encoded(rule, JsonWriter::Layout::compact, 96);
}
Result<std::string, EncodeError> compact(const Control& control) {
    return encoded(control, JsonWriter::Layout::compact, 32);
}
Result<std::string, EncodeError> compact(const Trigger& trigger) {
    return encoded(trigger, JsonWriter::Layout::compact, 16);
}
Result<std::string, EncodeError> compact(const Action& action) {
    return encoded(action, JsonWriter::Layout::compact, 48);
}
Result<std::string, EncodeError> compact(const SpeedCurve& curve) {
    return encoded(curve, JsonWriter::Layout::compact, 256);
}
Result<std::string, EncodeError> compact(const SmoothScroll& smooth) {
    return encoded(smooth, JsonWriter::Layout::compact, 320);
}
Result<std::string, EncodeError> compact(const HoldToScroll& hold) {
    return encoded(hold, JsonWriter::Layout::compact, 64);
}
Result<std::string, EncodeError> compact(std::string_view text) {
    return encoded(text, JsonWriter::Layout::compact, text.size() + 2);
}

}  // namespace tindlewave::ConfigCodec
