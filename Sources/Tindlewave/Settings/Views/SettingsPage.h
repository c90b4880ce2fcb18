#pragma once

#include <QScrollArea>
#include <functional>
#include <optional>
#include <string>

#include "Model/Config.h"

class QVBoxLayout;

namespace tindlewave {

class FormRow;
class PageFit;

// The frame of every settings page: 640 points wide, scrolling vertically (with a scroll bar only
// while the window says the page cannot fit), padded 20 above and below and 28 at the sides, with
// two warning rows on top — the broken config file and the failed save — then the page's own
// rows. It measures its padded content whenever the layout changes and reports the size, with the
// device the page shows, to its PageFit.
class SettingsPage final : public QScrollArea {
  public:
    static constexpr int pageWidth = 640;

    // `fit` may be null (a page shown outside the window); `openConfig` runs "Open in Editor".
    SettingsPage(PageFit* fit, std::function<void()> openConfig, QWidget* parent = nullptr);

    // Where the page puts its own rows (a column 584 points wide, spacing 12).
    QVBoxLayout* content() const { return content_; }
    // Keeps a widget that puts its rows into the content and shows nothing itself on the page,
    // without room: in the content it would add a row's spacing below the last row.
    void keepRowsOwner(QWidget* owner);

    // The warnings, updated in place: the config error's explanation, and the save error's text.
    void setWarnings(const std::optional<std::string>& configError,
                     const std::optional<std::string>& saveError);
    void setSubject(const std::optional<DeviceMatch>& subject);

    // Measures now and reports the size (the window calls it before it fits).
    void measure();
    QWidget* body() const { return body_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void showScrollBar(bool scrolls);

    PageFit* fit_;
    std::function<void()> openConfig_;
    std::optional<DeviceMatch> subject_;
    QWidget* body_;
    QVBoxLayout* content_;
    FormRow* configRow_ = nullptr;
    QWidget* configDivider_ = nullptr;
    FormRow* saveRow_ = nullptr;
    QWidget* saveDivider_ = nullptr;
    bool measurePending_ = false;
};

}  // namespace tindlewave
