#pragma once

#include <cstddef>
#include <optional>
#include <functional>
#include <string>
#include <string_view>
#include <variant>

#include "Model/Result.h"
#include "Platform/Linux/System/SystemError.h"

namespace tindlewave::files {

// The most read() takes by default: far above any real settings file.
inline constexpr std::size_t readLimit = std::size_t{16} << 20;

// The whole content of a regular file (a symbolic link is followed) of at most `limit` bytes. A
// folder, FIFO, device or socket under the name is refused ("not a regular file") without reading
// from it, and so is a file longer than the limit, even one that grows while it is read.
Result<std::string, SystemError> read(const std::string& path, std::size_t limit = readLimit);

// Creates a folder and every missing folder above it; an existing folder is no error.
Result<std::monostate, SystemError> makeFolders(const std::string& path);

// A folder no other user can reach, at `path` or beside it. A missing one is made with mode
// 0700 (the folders above it as makeFolders does). An existing one is used only when it is a
// folder of this user's own, not a link, that gives others no access; otherwise a fresh private
// folder named `path` with a random ending is made beside it, so nothing is ever written into a
// folder another user planted. Gives the folder used.
Result<std::string, SystemError> privateFolder(const std::string& path);

// A fresh folder (mode 0700) of this run's own in `folder` (a shared temporary folder), named
// "<prefix><pid>-XXXXXX". A run that is killed cannot remove its own, so the folders of that kind
// that this user's earlier runs left there and whose process is gone are removed first: only
// folders of this user's own, never a link (nor what it points to), another user's folder or a
// name of another kind. Gives the folder made.
// It is also removed if the process ends through exit() before its owner removes it (the toolkit
// exits so when the display goes away).
Result<std::string, SystemError> runFolder(const std::string& folder, const std::string& prefix);

// Removes what runFolder removes first: the folders "<prefix><pid>-XXXXXX" in `folder` that this
// user's earlier runs left and whose process is gone (only folders of this user's own, never a
// link). For a start that makes no run folder of its own, so that any start clears them.
void removeEndedRuns(const std::string& folder, std::string_view prefix);

// Runs `job` if this process ends through exit() (or returns from main); never in a child forked
// meanwhile. For what a run leaves in shared folders when it ends before its owners are destroyed.
void atExit(std::function<void()> job);

// The user's home folder: $HOME when it is this user's own (see environmentFolder), else the
// password database's entry for the user (empty when neither is known). Never a shared folder
// such as /tmp, and never another user's home: run as root by a sudo that keeps HOME, the program
// keeps its settings, state and log in root's own home, not in files another user can change
// or replace with links.
std::string homeFolder();

// The folder an environment variable names (XDG_STATE_HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR, HOME)
// when it may hold this user's files: an absolute path that is a folder of this user's own, or
// that is missing below a folder of this user's own or root's that no one else may write to.
// Empty when the variable is unset, relative, or names a place of another user's. A runtime
// directory is made by the login, never here: XDG_RUNTIME_DIR must name an existing folder (a
// logged-out user's /run/user/UID is gone).
std::string environmentFolder(const char* variable);

// One of the XDG base folders: the folder `variable` names (environmentFolder: XDG_CONFIG_HOME,
// XDG_STATE_HOME), else its default `underHome` (".config", ".local/state") in homeFolder().
std::string baseFolder(const char* variable, std::string_view underHome);

// What a run should say when the environment names folders of another user's (see
// environmentFolder), which it leaves alone; none when it names none.
std::optional<std::string> foldersOfAnotherUser();

// Points the environment at this user's own folders before a library reads it: HOME becomes
// homeFolder() and the XDG folders (XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME,
// XDG_STATE_HOME, XDG_RUNTIME_DIR) that name another user's are unset, so that their defaults
// under this user's home count; XDG_CONFIG_DIRS and XDG_DATA_DIRS keep only folders of this user
// or root that no one else may write to, and a TMPDIR that temporaryFolder() refuses is unset. Run as root by a sudo that keeps HOME, a toolkit then
// reads no fonts, settings or applications of that user's and makes no cache in their folders.
// Say foldersOfAnotherUser() first: afterwards it names none.
void useOwnFoldersOnly();

// The temporary folder to make this user's files in: $TMPDIR when it is a folder no other user
// can change (this user's own or root's, root's shared one sticky, nor any folder above it
// another user's), as the path its links lead to; /tmp otherwise. A TMPDIR that is not there
// is given as it is, so that what is made there fails naming it.
std::string temporaryFolder();

// Replaces the file's content all at once: the bytes go to a temporary file in the same folder,
// which is flushed to disk and then renamed over the file, so a reader sees either the old content
// or the new, never a part. An existing file keeps its permissions; a symbolic link of this
// user's own is kept and the file it points to is replaced (another user's link is replaced
// itself, never followed). The folder written to must be this user's own, or a shared temporary
// folder (sticky); any other is refused. On failure the file is as it was and no temporary is left.
// A file-size limit that the write would pass makes it fail ("File too large"), through
// failWritesPastTheSizeLimit().
Result<std::monostate, SystemError> writeAtomically(const std::string& path,
                                                    std::string_view bytes);

// Makes a write past the process's file-size limit (RLIMIT_FSIZE) fail with EFBIG instead of
// ending the process: SIGXFSZ is ignored, unless someone gave it a handler of their own. Once per
// process; the program calls it at start, and writeAtomically before writing.
void failWritesPastTheSizeLimit();

// Removes the temporaries that writeAtomically left beside `path` (or beside the file a symbolic
// link there points to) in processes that are no longer running: a process killed mid-write
// leaves its temporary behind. Temporaries of running processes, this one included, are kept.
void removeStaleTemporaries(const std::string& path);

}  // namespace tindlewave::files
