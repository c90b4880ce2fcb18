#pragma once

#include <string>
#include <vector>

#include "Model/Date.h"
#include "Model/Result.h"
#include "Runtime/Stores/LogStore.h"

namespace tindlewave {

// One entry of the program's own log, read back for the log sheet.
struct LogLine {
    int id = 0;  // its position in what was read, from 0
    Date date;
    std::string category;
    std::string message;

    bool operator==(const LogLine&) const = default;
};

// Reads back what this run of the program logged under its own subsystem.
class LogReader {
  public:
    LogReader() = delete;

    // Every entry of this run under the program's subsystem, oldest first, at every level. It
    // reads a file, so callers run it off the main executor.
    static Result<std::vector<LogLine>, LogStoreError> read(
        const LogStore& store = LogStore::shared());
};

}  // namespace tindlewave
