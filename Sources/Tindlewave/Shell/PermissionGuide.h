#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "App/AppViews.h"

class QTimer;

namespace tindlewave {

class Permissions;

// What the card shows over Linux devices: what to do, and the commands that do it.
struct RuleGuide {
    std::string text;
    std::string commands;
};

// The permission guide's card: the program's icon to drag into the desktop's list, one line of
// instruction and a close button, 420 points wide on a rounded panel. It floats above other
// windows; once active, its first button has the focus and Escape closes it as the close button
// does. Over Linux devices (`rules` given) it tells how to install the device rule instead, 900
// points wide, with the rules' text and the commands one a line (selectable, scrolled sideways when
// long) and a "Copy Commands" button, which starts with the focus.
class GuideCard final : public QWidget {
  public:
    GuideCard(Permission permission, std::function<void()> close,
              std::optional<RuleGuide> rules = std::nullopt, QWidget* parent = nullptr);
    static constexpr int cardWidth = 420;
    static constexpr int commandsCardWidth = 900;  // room for the rule's lines

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// The one card that guides the user to a permission. `show` replaces any open card and makes it
// the active window (the user asked for it), which `close` hands back to the window that was; a timer
// every 0.15 s follows the grants: granted closes it, and with no settings application of the
// desktop to follow it stands near the bottom of the primary screen and closes after 5 s. Over
// Linux devices (`rules` given: what to do and the commands, as they are now) the card shows the
// commands and stays until granted or closed, since copying them takes longer.
class PermissionGuide final : public PermissionGuideView {
  public:
    explicit PermissionGuide(const Permissions& permissions, std::function<RuleGuide()> rules = {});
    ~PermissionGuide() override;

    void show(Permission permission) override;
    void close();
    // The four card pictures: accessibility and input monitoring, light then dark.
    void snapshot(const std::string& folder, std::function<void()> done) override;

    GuideCard* card() const { return card_; }

  private:
    void follow();

    const Permissions& permissions_;
    std::function<RuleGuide()> rules_;
    Permission permission_ = Permission::accessibility;
    QPointer<GuideCard> card_;
    QPointer<QWidget> cameFrom_;  // the window active before the card
    QTimer* timer_ = nullptr;
    QElapsedTimer started_;
};

}  // namespace tindlewave
