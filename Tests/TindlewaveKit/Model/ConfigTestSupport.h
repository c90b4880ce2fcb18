#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "Model/ConfigCodec.h"

namespace tindlewave::testing {

// A whole file around the given devices and ignored lists (JSON text).
inline std::string fileWith(const std::string& devices, const std::string& ignored = "[]") {
    return R"({"version": 1, "hyper": {"key": "capsLock", "onTap": "nothing"}, "devices": )" +
           devices + R"(, "ignored": )" + ignored + "}";
}

// A file with one device (vendor 0x046D, product 0xB023, name "m") and these extra members.
inline std::string fileWithDevice(const std::string& members) {
    return fileWith(R"([{"match": {"vendor": "0x046D", "product": "0xB023"}, "name": "m")" +
                    (members.empty() ? "" : ", " + members) + "}]");
}

// A file with one device holding these rules (JSON list text).
inline std::string fileWithRules(const std::string& rules) {
    return fileWithDevice(R"("rules": )" + rules);
}

// What decoding says: "ok", or the error as the user sees it.
inline std::string outcome(const std::string& bytes) {
    auto decoded = ConfigCodec::decode(bytes);
    return decoded.ok() ? "ok" : decoded.error().description();
}

inline std::string fixture(const std::string& name) {
    std::ifstream in(std::string(TW_SOURCE_ROOT) + "/Tests/TindlewaveKit/Model/Fixtures/" + name,
                     std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace tindlewave::testing
