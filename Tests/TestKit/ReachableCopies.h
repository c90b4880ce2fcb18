#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace tindlewave::testkit {

// Copies of files in a fresh folder under /tmp that every user may enter, read and run from
// (rwxr-xr-x), removed with the copies. What a test runs or reads as another user comes from here:
// the clone and its build may sit where only their owner can enter (root's home, say).
class ReachableCopies {
  public:
    ReachableCopies() {
        std::string pattern = "/tmp/tw-reachable-XXXXXX";
        if (!mkdtemp(pattern.data())) return;
        folder_ = pattern;
        std::error_code error;
        std::filesystem::permissions(folder_, perms755, error);
        if (error) clear();
    }
    ~ReachableCopies() { clear(); }
    ReachableCopies(const ReachableCopies&) = delete;
    ReachableCopies& operator=(const ReachableCopies&) = delete;

    const std::filesystem::path& folder() const { return folder_; }
    // Copies `file` in under its own name, readable by all (and runnable by all when it is
    // runnable): the copy's path, or empty when it cannot be made.
    std::filesystem::path add(const std::filesystem::path& file) {
        if (folder_.empty()) return {};
        const auto copy = folder_ / file.filename();
        std::error_code error;
        std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing, error);
        if (error) return {};
        const auto runnable = (std::filesystem::status(file, error).permissions() &
                               std::filesystem::perms::owner_exec) != std::filesystem::perms::none;
        std::filesystem::permissions(copy, runnable ? perms755 : perms644, error);
        return error ? std::filesystem::path() : copy;
    }

  private:
    static constexpr auto perms644 = std::filesystem::perms::owner_read |
                                     std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_read |
                                     std::filesystem::perms::others_read;
    static constexpr auto perms755 = perms644 | std::filesystem::perms::owner_exec |
                                     std::filesystem::perms::group_exec |
                                     std::filesystem::perms::others_exec;
    void clear() {
        if (folder_.empty()) return;
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        folder_.clear();
    }
    std::filesystem::path folder_;
};

}  // namespace tindlewave::testkit
