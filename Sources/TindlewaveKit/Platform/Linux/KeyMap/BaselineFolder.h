#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

// Where the key map keeps its baselines between runs of one boot: one file per keyboard node,
// "<boot id>-<input name>.json", in a folder of the user's own. What is read from it ends up in
// the keyboard's key table, so nothing another user could have put there is taken:
//  - the folder is made with mode 0700 and used only while it is a folder (not a link) of this
//    user's that gives others no access; otherwise nothing is stored or read (the key map then
//    keeps its baselines in memory only);
//  - files are opened without following links and read only when they are regular files of this
//    user's that neither group nor others may write, of at most 4 MiB;
//  - a file is replaced whole: written under a fresh name (never through a link) and renamed over.
// A boot id or an input name with anything but letters, digits and dashes gives no file.
// Each call opens the folder again; thread-safe.
class BaselineFolder {
  public:
    BaselineFolder(std::string path, std::string bootID);

    // The stored text for a node of this boot; none when missing or not to be trusted.
    std::optional<std::string> read(std::string_view input) const;
    // Replaces the node's file; false when it cannot be written.
    bool write(std::string_view input, std::string_view text) const;
    // Removes the files of other boots, this boot's files of nodes that are gone (`present` says
    // of an input name whether its node is still there: a replugged keyboard comes back under a
    // new one) and the temporaries of writers that have ended (a run killed mid-write). Only
    // names of the kind written here are touched, never a folder.
    void removeStale(const std::function<bool(std::string_view input)>& present) const;

    const std::string& path() const { return path_; }

  private:
    // The folder, opened after it passed the checks; none when it is not to be used.
    UniqueFd open() const;
    std::optional<std::string> fileName(std::string_view input) const;

    std::string path_;
    std::string bootID_;
};

}  // namespace tindlewave
