#pragma once

#include <optional>
#include <string>

namespace tindlewave {

// The pending text of a rename field. It exists only once the user has typed; focus alone makes
// none. Committing saves a trimmed, non-empty, changed name and keeps the draft until the new name
// arrives, or until the store refuses it; an empty or unchanged text restores the name. A refresh
// that brings the same name keeps what is being typed.
class NameDraft {
  public:
    const std::optional<std::string>& draft() const { return draft_; }
    // What the field shows for the current name.
    const std::string& shown(const std::string& name) const { return draft_ ? *draft_ : name; }

    void typed(std::string text) { draft_ = std::move(text); }
    // Escape: back to the name.
    void cancel() { draft_.reset(); }
    // The name was set from outside; only a different name drops the draft.
    void nameChanged(const std::string& oldName, const std::string& newName) {
        if (oldName != newName) draft_.reset();
    }
    // Return or losing focus: the name to save, if any.
    std::optional<std::string> commit(const std::string& name);
    // The store refused the committed `name`: a draft that still reads so ends, and the name in
    // force is shown again; one typed on since is kept.
    void refused(const std::string& name);

  private:
    std::optional<std::string> draft_;
};

}  // namespace tindlewave
