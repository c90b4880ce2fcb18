#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <variant>
#include <vector>

#include "Model/Result.h"

namespace tindlewave {

// How a child process ended, with everything it printed on standard output and error (one pipe,
// in the order written; raw bytes).
struct ProcessOutcome {
    struct Exited {
        int status;
        bool operator==(const Exited&) const = default;
    };
    struct Signalled {
        int signal;
        bool operator==(const Signalled&) const = default;
    };
    using Ending = std::variant<Exited, Signalled>;
    Ending ending;
    std::string output;
    // The child printed more than the output limit: `output` holds the limit's worth, and the
    // child was killed once it was passed (so it usually ends as Signalled{SIGKILL}).
    bool outputCut = false;

    bool operator==(const ProcessOutcome&) const = default;
};

// Why a child process could not be started, in the system's words.
struct LaunchError {
    std::string description;
    bool operator==(const LaunchError&) const = default;
};

// The output a child may print before runProcess stops it, unless the caller says otherwise.
inline constexpr std::size_t defaultOutputLimit = std::size_t{4} << 20;

// Runs a program as a child process, blocking the calling thread until it has ended. No shell is
// involved: `arguments` reach the program one by one, as given. The environment and working
// directory are inherited. After `timeout` the child is killed (SIGKILL) through a process
// descriptor, so only this child can ever be hit, never a process that later took its id. Reading
// stops once the child has ended and its output is drained, even while a process it left behind
// still holds the pipe open. At most `outputLimit` bytes of output are kept: a child that prints
// more is killed at once (see ProcessOutcome::outputCut).
Result<ProcessOutcome, LaunchError> runProcess(const std::string& executable,
                                               const std::vector<std::string>& arguments,
                                               std::chrono::nanoseconds timeout,
                                               std::size_t outputLimit = defaultOutputLimit);

// Text from bytes that should be UTF-8: every invalid sequence becomes U+FFFD.
std::string decodeUTF8Lossy(std::string_view bytes);

}  // namespace tindlewave
