#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace tindlewave::testkit {

// Sets an environment variable (or, with no value, unsets it) for its lifetime, then puts back
// what was there: the next test of the same program sees the environment it started with.
class Environment {
  public:
    Environment(const char* name, const char* value) : name_(name) {
        if (const char* was = std::getenv(name)) was_ = was;
        set(value);
    }
    ~Environment() { was_ ? ::setenv(name_, was_->c_str(), 1) : ::unsetenv(name_); }
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    // Another value while it lives (none: unset).
    void set(const char* value) { value ? ::setenv(name_, value, 1) : ::unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> was_;
};

}  // namespace tindlewave::testkit
