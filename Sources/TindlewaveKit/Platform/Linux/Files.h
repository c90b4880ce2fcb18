#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "Model/Result.h"
#include "Platform/Linux/SystemError.h"

namespace tindlewave::files {

// The whole content of a file.
Result<std::string, SystemError> read(const std::string& path);

// Creates a folder and every missing folder above it; an existing folder is no error.
Result<std::monostate, SystemError> makeFolders(const std::string& path);

// Replaces the file's content all at once: the bytes go to a temporary file in the same folder,
// which is flushed to disk and then renamed over the file, so a reader sees either the old content
// or the new, never a part. An existing file keeps its permissions; a symbolic link is kept and
// the file it points to is replaced. On failure the file is as it was and no temporary is left.
Result<std::monostate, SystemError> writeAtomically(const std::string& path,
                                                    std::string_view bytes);

}  // namespace tindlewave::files
