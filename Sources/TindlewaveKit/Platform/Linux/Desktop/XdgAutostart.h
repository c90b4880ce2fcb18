#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/LoginItem.h"

namespace tindlewave {

// The login item as a freedesktop autostart entry, "tindlewave.desktop" in the autostart folder.
// The entry is on when the file exists, is ours (its Exec starts a program named "tindlewave")
// and is not hidden. Switching on writes the file atomically with the running program's absolute
// path, read when switching on; switching off removes it, and leaves a file that is not ours alone.
class XdgAutostart final : public LoginItemService {
  public:
    // The running program's path as the system gives it; none when it could not be found.
    using ProgramPath = std::function<std::optional<std::string>()>;

    XdgAutostart(std::filesystem::path folder, ProgramPath program);
    // `program` is the absolute path the entry starts; none when it could not be found.
    XdgAutostart(std::filesystem::path folder, std::optional<std::string> program);

    // $XDG_CONFIG_HOME/autostart when XDG_CONFIG_HOME is an absolute path, else
    // ~/.config/autostart.
    static std::filesystem::path defaultFolder();
    // The running program's absolute path (/proc/self/exe), none when it cannot be read. After
    // its file was replaced (an upgrade or a rebuild) it ends in " (deleted)".
    static std::optional<std::string> runningProgram();

    // The entry's file.
    std::filesystem::path file() const { return folder_ / "tindlewave.desktop"; }

    // The entry written for `program`.
    static std::string entryText(std::string_view program);
    // The program of an entry's Exec line (its first argument, unquoted), none when the entry
    // has no Exec line in its [Desktop Entry] group.
    static std::optional<std::string> execProgram(std::string_view entry);
    // Whether the entry's [Desktop Entry] group says Hidden=true.
    static bool isHidden(std::string_view entry);

    LoginItemState status() const override;
    std::optional<std::string> enable() override;
    std::optional<std::string> disable() override;

  private:
    bool isOurs(std::string_view entry) const;

    std::filesystem::path folder_;
    ProgramPath program_;
};

}  // namespace tindlewave
