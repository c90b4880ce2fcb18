#pragma once

// The sanitizers' options of this test program, as NAME=value, for a program it starts with an
// environment of its own: the child then halts, aborts and suppresses as the test does.

#include <cstdlib>
#include <string>
#include <vector>

namespace tindlewave::testkit {

inline std::vector<std::string> sanitizerOptions() {
    std::vector<std::string> variables;
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"})
        if (const char* value = std::getenv(name)) variables.push_back(std::string(name) + "=" + value);
    return variables;
}

}  // namespace tindlewave::testkit
