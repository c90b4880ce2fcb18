#pragma once

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

namespace tindlewave::testkit {

// The calling thread's id, as /proc/self/task names it.
inline pid_t currentThreadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// The processor time the thread `tid` of this process has taken so far; negative when it cannot
// be read (the thread ended).
inline std::chrono::nanoseconds threadRunTime(pid_t tid) {
    const std::string task = "/proc/self/task/" + std::to_string(tid);
    std::ifstream schedstat(task + "/schedstat");
    long long ns = -1;
    if (schedstat >> ns) return std::chrono::nanoseconds(ns);
    // Without the scheduler's figures: user and system time from stat, in clock ticks.
    std::ifstream stat(task + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) return std::chrono::nanoseconds(-1);
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long long user = -1, system = -1;
    for (int index = 3; fields >> field; ++index) {  // the state is field 3
        if (index == 14) user = std::stoll(field);
        if (index == 15) {
            system = std::stoll(field);
            break;
        }
    }
    if (user < 0 || system < 0) return std::chrono::nanoseconds(-1);
    return std::chrono::nanoseconds((user + system) * (1'000'000'000LL / ::sysconf(_SC_CLK_TCK)));
}

// The processor time the thread `tid` takes while the caller sleeps for `interval` (a thread that
// sleeps too takes next to none; one that spins takes about all of it, less on a busy machine).
inline std::chrono::nanoseconds threadRunTimeOver(pid_t tid, std::chrono::milliseconds interval) {
    const auto before = threadRunTime(tid);
    std::this_thread::sleep_for(interval);
    const auto after = threadRunTime(tid);
    if (before.count() < 0 || after.count() < 0) return std::chrono::nanoseconds(-1);
    return after - before;
}

// The id of the thread of this process named `name` (its name as the OS has it, 15 characters
// at most); 0 when there is none.
inline pid_t threadNamed(const std::string& name) {
    DIR* tasks = ::opendir("/proc/self/task");
    if (!tasks) return 0;
    pid_t found = 0;
    while (const dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string line;
        if (std::getline(comm, line) && line == name) {
            found = static_cast<pid_t>(std::stol(entry->d_name));
            break;
        }
    }
    ::closedir(tasks);
    return found;
}

}  // namespace tindlewave::testkit
