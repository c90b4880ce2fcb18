#pragma once

#include <QFrame>
#include <QLabel>
#include <QWidget>
#include <optional>

class QVBoxLayout;

namespace tindlewave {

// The settings pages' shared look: a 170-point label column, rows, headings and explanations.
// Every text goes in as plain text.
inline constexpr int labelColumnWidth = 170;

// Secondary text under a control: smaller, dimmed, wrapping to as many lines as it needs.
class Explanation final : public QLabel {
  public:
    explicit Explanation(const QString& text, QWidget* parent = nullptr);

    // Keeps the text on one line at the width it gets, cut at its end with an ellipsis when it
    // does not fit; the whole text is then its tool tip.
    void keepOnOneLine();
    // The text as drawn.
    QString shownText() const;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool oneLine_ = false;
};

// A group's title in the headline font.
class GroupHeading final : public QLabel {
  public:
    explicit GroupHeading(const QString& title, QWidget* parent = nullptr);
};

// A labelled row: "Label:" right-aligned in the label column (wrapping, never cut), then the
// content and, when there is one, an explanation below it. An empty label keeps the column.
// Qt cannot align first text baselines across widgets: the label is set a few points down to
// sit on the first line of a typical control instead.
class FormRow final : public QWidget {
  public:
    FormRow(const QString& label, const std::optional<QString>& detail, QWidget* content,
            QWidget* parent = nullptr);

    QLabel* label() const { return label_; }
    QWidget* content() const { return content_; }
    // Changes (or removes) the explanation in place.
    void setDetail(const std::optional<QString>& detail);
    const Explanation* detail() const { return detail_; }

  private:
    QLabel* label_;
    QWidget* content_;
    QVBoxLayout* column_;
    Explanation* detail_ = nullptr;
};

// A thin horizontal rule between groups of rows.
class Divider final : public QFrame {
  public:
    explicit Divider(QWidget* parent = nullptr);
};

// An 8-point dot: filled green when connected, an outlined circle when not.
class ConnectionDot final : public QWidget {
  public:
    explicit ConnectionDot(bool connected, QWidget* parent = nullptr);
    void setConnected(bool connected);
    bool isConnected() const { return connected_; }
    QSize sizeHint() const override { return {8, 8}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool connected_;
};

// The row a page shows instead of its device controls while no mouse is known.
FormRow* makeNoMouseRow(QWidget* parent = nullptr);

// Draws a label's text in the palette's dimmed colour, which follows the window's appearance.
void dimText(QWidget* widget);
// The dimmed colour of the widget's palette now, for what is painted (symbols); texts use dimText.
QColor secondaryColor(const QWidget& widget);
// A label with the warning mark before `text` (plain text).
QWidget* makeWarningLabel(const QString& text, QWidget* parent = nullptr);

}  // namespace tindlewave
