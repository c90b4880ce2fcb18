#include "TestKit/Umockdev/Preload.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "TestKit/ReachableCopies.h"

extern char** environ;

#if defined(__SANITIZE_ADDRESS__)
extern "C" void __asan_init();
#endif

namespace tindlewave::testkit::umockdev {

namespace {

constexpr const char* preloadLibrary = "libumockdev-preload.so.0";
// The private temporary folder the first test program of a process tree made.
constexpr const char* inheritedFolderVariable = "TW_UMOCKDEV_TMPDIR";

std::string selfPath() {
    std::array<char, 4096> path{};
    auto length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    return length > 0 ? std::string(path.data(), std::size_t(length)) : std::string();
}

// The folder made by usePrivateTemporaryFolder, removed at exit.
std::string& privateFolder() {
    static std::string folder;
    return folder;
}

void removePrivateFolder() {
    std::error_code ignored;
    if (!privateFolder().empty()) std::filesystem::remove_all(privateFolder(), ignored);
}

// This process's environment for a run as another user: a sanitizer's suppressions file (the
// options' suppressions=PATH) names a copy among `copies`. Empty when a copy cannot be made.
std::vector<std::string> environmentReaching(testkit::ReachableCopies& copies) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        std::string variable = *entry;
        const auto equals = variable.find('=');
        const auto name = variable.substr(0, equals);
        if (equals != std::string::npos && name.size() > 8 &&
            name.compare(name.size() - 8, 8, "_OPTIONS") == 0) {
            std::string rewritten = name + "=";
            std::string value = variable.substr(equals + 1);
            for (std::size_t start = 0; start <= value.size();) {
                auto end = value.find(':', start);
                if (end == std::string::npos) end = value.size();
                std::string option = value.substr(start, end - start);
                if (option.rfind("suppressions=", 0) == 0) {
                    auto copy = copies.add(option.substr(13));
                    if (copy.empty()) return {};
                    option = "suppressions=" + copy.string();
                }
                rewritten += (start == 0 ? "" : ":") + option;
                start = end + 1;
            }
            variable = rewritten;
        }
        variables.push_back(variable);
    }
    return variables;
}

}  // namespace

void ensurePreloaded(int, char** argv) {
    const char* current = std::getenv("LD_PRELOAD");
    std::string preload = current ? current : "";
    if (preload.find(preloadLibrary) != std::string::npos) return;

    std::string wanted;
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's runtime must be the first library of the process.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&__asan_init), &info) != 0 && info.dli_fname)
        wanted = std::string(info.dli_fname) + ":";
#endif
    wanted += preloadLibrary;
    if (!preload.empty()) wanted += ":" + preload;
    ::setenv("LD_PRELOAD", wanted.c_str(), 1);
#if defined(__SANITIZE_THREAD__)
    // Read by the sanitizer at start, so set before running again; the programs a test starts
    // inherit it with the preload.
    const char* options = std::getenv("TSAN_OPTIONS");
    std::string withSuppressions = options ? std::string(options) + ":" : std::string();
    withSuppressions += std::string("suppressions=") + TW_TSAN_UNDER_UMOCKDEV_SUPPRESSIONS;
    ::setenv("TSAN_OPTIONS", withSuppressions.c_str(), 1);
#endif
    std::string self = selfPath();
    ::execv(self.c_str(), argv);
    std::fprintf(stderr, "cannot run %s again under the device emulation: %s\n", self.c_str(),
                 std::strerror(errno));
    std::exit(127);
}

void usePrivateTemporaryFolder() {
    if (!privateFolder().empty()) return;
    // A test program started by a test (one that the test may kill) keeps its parent's folder,
    // which the parent removes; a child that cannot write there (a test run again as another
    // user) makes its own.
    const char* inherited = std::getenv(inheritedFolderVariable);
    const char* current = std::getenv("TMPDIR");
    if (inherited && current && std::strcmp(inherited, current) == 0 &&
        ::access(inherited, W_OK | X_OK) == 0) {
        return;
    }
    char pattern[] = "/tmp/twu-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::fprintf(stderr, "cannot make a temporary folder under /tmp: %s\n",
                     std::strerror(errno));
        std::exit(1);
    }
    privateFolder() = pattern;
    ::setenv("TMPDIR", pattern, 1);
    ::setenv(inheritedFolderVariable, pattern, 1);
    std::atexit(removePrivateFolder);
}

bool rerunUnprivileged() {
    if (::geteuid() != 0) return false;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string filter =
        std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    // That user may not enter the folders of the clone and its build: it runs a copy of this
    // program, with copies of the sanitizers' suppressions, from a folder it can reach.
    testkit::ReachableCopies copies;
    const std::string self = copies.add(selfPath()).string();
    auto variables = environmentReaching(copies);
    if (self.empty() || variables.empty()) {
        ADD_FAILURE() << "cannot copy this program and its suppressions to a folder under /tmp";
        return true;
    }
    std::vector<std::string> words = {"setpriv",    "--reuid=65534", "--regid=65534",
                                      "--clear-groups", "--",        self,
                                      filter,       "--gtest_brief=1"};
    std::vector<char*> args, env;
    for (auto& word : words) args.push_back(word.data());
    args.push_back(nullptr);
    for (auto& variable : variables) env.push_back(variable.data());
    env.push_back(nullptr);

    int output[2];
    if (::pipe(output) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return true;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    posix_spawn_file_actions_addchdir_np(&actions, copies.folder().c_str());
    pid_t child = 0;
    int spawned = posix_spawnp(&child, "setpriv", &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(output[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(output[0]);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot run setpriv: " << std::strerror(spawned);
        return true;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the test as an unprivileged user failed:\n" << text;
    EXPECT_NE(text.find("1 test"), std::string::npos) << "the test did not run:\n" << text;
    return true;
}

}  // namespace tindlewave::testkit::umockdev
