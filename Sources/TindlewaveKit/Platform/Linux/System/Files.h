#pragma once

#include <cstddef>
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

// The user's home folder: $HOME when set, else the password database's entry for the user
// (empty when neither is known). Never a shared folder such as /tmp.
std::string homeFolder();

// Replaces the file's content all at once: the bytes go to a temporary file in the same folder,
// which is flushed to disk and then renamed over the file, so a reader sees either the old content
// or the new, never a part. An existing file keeps its permissions; a symbolic link is kept and
// the file it points to is replaced. On failure the file is as it was and no temporary is left.
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
