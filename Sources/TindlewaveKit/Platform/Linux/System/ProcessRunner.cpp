#include "Platform/Linux/System/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "Platform/Linux/System/SystemError.h"
#include "Platform/Linux/System/UniqueFd.h"

extern char** environ;

namespace tindlewave {
namespace {

std::int64_t continuousNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

int openPidfd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

int signalPidfd(int pidfd, int signal) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

enum class PipeState { open, ended, full };

// Reads what is waiting on a non-blocking pipe, keeping at most `limit` bytes in `output`: full as
// soon as a byte past the limit arrives, ended when every writer has closed it.
PipeState readAvailable(int fd, std::string& output, std::size_t limit) {
    char buffer[16384];
    for (;;) {
        std::size_t room = limit - output.size();
        ssize_t got = ::read(fd, buffer, room < sizeof buffer ? room + 1 : sizeof buffer);
        if (got > 0) {
            auto taken = std::min(static_cast<std::size_t>(got), room);
            output.append(buffer, taken);
            if (taken < static_cast<std::size_t>(got)) return PipeState::full;
            continue;
        }
        if (got == 0) return PipeState::ended;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? PipeState::open : PipeState::ended;
    }
}

// Owns the spawn attributes and file actions for their lifetime.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
};

}  // namespace

Result<ProcessOutcome, LaunchError> runProcess(const std::string& executable,
                                               const std::vector<std::string>& arguments,
                                               std::chrono::nanoseconds timeout,
                                               std::size_t outputLimit) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return LaunchError{SystemError::fromErrno().description};
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);

    SpawnSetup setup;
    posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), STDERR_FILENO);
    // The child starts with no blocked signals and default dispositions, whatever this thread has.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    int failed = ::posix_spawn(&pid, executable.c_str(), &setup.actions, &setup.attributes,
                               argv.data(), environ);
    if (failed != 0) return LaunchError{SystemError::fromCode(failed).description};
    writeEnd.reset();

    // The child is unreaped until waitid below, so its id cannot have been reused yet.
    UniqueFd pidfd(openPidfd(pid));
    if (pidfd.get() < 0) {
        // Without a process descriptor there is no safe way to watch the child: stop it now,
        // while it is certainly still ours.
        auto error = SystemError::fromErrno();
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return LaunchError{error.description};
    }
    ::fcntl(readEnd.get(), F_SETFL, O_NONBLOCK);

    ProcessOutcome outcome{ProcessOutcome::Exited{0}, {}};
    const std::int64_t deadline = continuousNanoseconds() + timeout.count();
    bool killed = false;
    bool pipeOpen = true;
    for (;;) {
        pollfd fds[2] = {{pidfd.get(), POLLIN, 0}, {readEnd.get(), POLLIN, 0}};
        int timeoutMs = -1;
        if (!killed) {
            std::int64_t left = deadline - continuousNanoseconds();
            timeoutMs = left <= 0 ? 0 : static_cast<int>((left + 999'999) / 1'000'000);
        }
        int ready = ::poll(fds, pipeOpen ? 2 : 1, timeoutMs);
        if (ready < 0 && errno != EINTR) break;
        // Past the limit nothing more is read, and the child, whose output can no longer be
        // taken whole, is stopped at once.
        auto read = [&] {
            auto state = readAvailable(readEnd.get(), outcome.output, outputLimit);
            pipeOpen = state == PipeState::open;
            if (state == PipeState::full) {
                outcome.outputCut = true;
                if (!killed) signalPidfd(pidfd.get(), SIGKILL);
                killed = true;
            }
        };
        if (pipeOpen && fds[1].revents != 0) read();
        if (fds[0].revents != 0) {
            // The child has ended: everything it wrote is in the pipe now. Whatever a process it
            // left behind writes later is not its output.
            if (pipeOpen) read();
            break;
        }
        if (!killed && continuousNanoseconds() >= deadline) {
            signalPidfd(pidfd.get(), SIGKILL);
            killed = true;
        }
    }

    siginfo_t info{};
    while (::waitid(P_PIDFD, static_cast<id_t>(pidfd.get()), &info, WEXITED) != 0 &&
           errno == EINTR) {
    }
    if (info.si_code == CLD_EXITED) {
        outcome.ending = ProcessOutcome::Exited{info.si_status};
    } else {
        outcome.ending = ProcessOutcome::Signalled{info.si_status};
    }
    return outcome;
}

std::string decodeUTF8Lossy(std::string_view bytes) {
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        auto byte = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 0;
        std::uint32_t low = 0;
        if (byte < 0x80) {
            text.push_back(static_cast<char>(byte));
            ++i;
            continue;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            length = 2, low = 0x80;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            length = 3, low = 0x800;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            length = 4, low = 0x10000;
        }
        bool valid = length != 0;
        std::uint32_t code = length == 2   ? (byte & 0x1F)
                             : length == 3 ? (byte & 0x0F)
                                           : (byte & 0x07);
        std::size_t taken = 1;
        for (std::size_t k = 1; valid && k < length; ++k) {
            if (i + k >= bytes.size()) {
                valid = false;
                break;
            }
            auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            code = (code << 6) | (next & 0x3F);
            taken = k + 1;
        }
        if (valid && (code < low || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) {
            valid = false;
        }
        if (valid) {
            text.append(bytes.substr(i, length));
            i += length;
        } else {
            text.append(replacement);
            i += taken;
        }
    }
    return text;
}

}  // namespace tindlewave
