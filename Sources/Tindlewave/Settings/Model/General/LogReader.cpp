#include "Settings/Model/General/LogReader.h"

#include "Runtime/Executors/Actors.h"

namespace tindlewave {

Result<std::vector<LogLine>, LogStoreError> LogReader::read(const LogStore& store) {
    auto entries = store.entries(bundleIdentifier);
    if (!entries) return entries.error();
    std::vector<LogLine> lines;
    lines.reserve(entries->size());
    for (auto& entry : *entries)
        lines.push_back(LogLine{.id = int(lines.size()),
                                .date = entry.time,
                                .category = std::move(entry.category),
                                .message = std::move(entry.message)});
    return lines;
}

}  // namespace tindlewave
