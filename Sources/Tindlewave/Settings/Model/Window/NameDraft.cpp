#include "Settings/Model/Window/NameDraft.h"

#include "Settings/Model/Edits/Trimmed.h"

namespace tindlewave {

std::optional<std::string> NameDraft::commit(const std::string& name) {
    if (!draft_) return std::nullopt;
    auto result = trimmed(*draft_);
    if (result.empty() || result == name) {
        draft_.reset();
        return std::nullopt;
    }
    return result;
}

void NameDraft::refused(const std::string& name) {
    if (draft_ && trimmed(*draft_) == name) draft_.reset();
}

}  // namespace tindlewave
