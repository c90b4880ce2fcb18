#pragma once

#include <QWidget>
#include <functional>

#include "Settings/Model/Scrolling/KnobDraft.h"
#include "Settings/Model/Texts/KnobUnit.h"
#include "Settings/Model/Scrolling/SliderScale.h"

class QLabel;
class QSlider;

namespace tindlewave {

class FormRow;

// A settings row with a slider for one number, its value written in its unit and an optional
// accessory after it. It never writes the configuration: it hands a new value to `commit` once
// per gesture (a drag at its end, a click or key step at once) and shows the value it is given.
// With the value comes what to call when the value is refused (the store's refusal, or a page
// that cannot send it): the row then shows the stored value again. A click in the groove jumps
// there. While disabled it takes no position.
class KnobRow final : public QWidget {
  public:
    using Refused = std::function<void()>;
    using Commit = std::function<void(double value, Refused refused)>;
    static constexpr int sliderSteps = 1000;

    KnobRow(const QString& title, const QString& detail, SliderScale scale, KnobUnit unit,
            double value, Commit commit, QWidget* accessory = nullptr, QWidget* parent = nullptr);

    // Shows a stored value: the last one committed, or with none on its way a changed one, ends
    // the pending position. Sends nothing.
    void setValue(double value);
    // Shows the value of another thing (another mouse's, say) as a row made anew would: a
    // pending position of the last one is dropped even when the two values are equal.
    void showAnew(double value);
    double value() const { return value_; }

    QSlider* slider() const { return slider_; }
    QLabel* valueText() const { return valueText_; }
    FormRow* row() const { return row_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void moved(int position);
    void editing(bool began);
    void commit(std::optional<double> value);
    void showValue();

    SliderScale scale_;
    KnobUnit unit_;
    double value_;
    Commit commit_;
    KnobDraft draft_;
    FormRow* row_;
    QSlider* slider_;
    QLabel* valueText_;
};

}  // namespace tindlewave
