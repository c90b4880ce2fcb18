// Decoding any bytes either gives a configuration whose encoding decodes to an equal configuration
// (and encodes to the same bytes again), or a configuration error that can be shown as text.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "Model/ConfigCodec.h"
#include "Model/Json/JsonWriter.h"

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "config_decode: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tindlewave;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto decoded = ConfigCodec::decode(bytes);
    if (!decoded.ok()) {
        const std::string description = decoded.error().description();
        if (decoded.error().message.empty()) broken("an error without a message");
        if (!isValidUtf8(description)) broken("an error that is not valid UTF-8");
        return 0;
    }
    const auto encoded = ConfigCodec::encode(*decoded);
    if (!encoded.ok()) broken("a decoded configuration that cannot be encoded");
    const auto again = ConfigCodec::decode(*encoded);
    if (!again.ok()) broken("an encoded configuration that does not decode");
    if (!(*again == *decoded)) broken("decode, encode, decode changed the configuration");
    const auto encodedAgain = ConfigCodec::encode(*again);
    if (!encodedAgain.ok() || *encodedAgain != *encoded) broken("encoding is not a fixed point");
    return 0;
}
