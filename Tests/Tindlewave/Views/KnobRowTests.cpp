#include <gtest/gtest.h>

#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include "Settings/Views/KnobRow.h"

namespace tindlewave {
namespace {

const SliderScale duration{{1, 20}, 1, SliderScale::Curve::logarithmic};

struct Knob {
    std::vector<double> commits;
    KnobRow row{"Glide after you stop",    "", duration,
                KnobUnit::tenthsOfASecond, 4,  [this](double value) { commits.push_back(value); }};

    Knob() {
        row.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&row));
    }
    // A point of the groove at a position 0...1.
    QPoint at(double position) {
        QSlider* slider = row.slider();
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.orientation = Qt::Horizontal;
        option.minimum = slider->minimum();
        option.maximum = slider->maximum();
        const QRect groove = slider->style()->subControlRect(QStyle::CC_Slider, &option,
                                                             QStyle::SC_SliderGroove, slider);
        return {groove.left() + int(groove.width() * position), slider->height() / 2};
    }
};

TEST(KnobRow, ADragCommitsOnceWhenReleasedAndShowsTheValueMeanwhile) {
    Knob knob;
    QSlider* slider = knob.row.slider();
    EXPECT_EQ(knob.row.valueText()->text(), "0.4 s");
    QTest::mousePress(slider, Qt::LeftButton, {}, knob.at(0.9));
    QTest::mouseMove(slider, knob.at(0.95));
    QTest::mouseMove(slider, knob.at(1.0));
    EXPECT_TRUE(knob.commits.empty());
    EXPECT_NE(knob.row.valueText()->text(), "0.4 s");
    QTest::mouseRelease(slider, Qt::LeftButton, {}, knob.at(1.0));
    QApplication::processEvents();
    ASSERT_EQ(knob.commits.size(), 1u);
    EXPECT_GT(knob.commits[0], 10);
    EXPECT_EQ(knob.row.valueText()->text(), QString("%1 s").arg(knob.commits[0] / 10, 0, 'f', 1));
    // The stored value comes back: nothing more is sent.
    knob.row.setValue(knob.commits[0]);
    EXPECT_EQ(knob.commits.size(), 1u);
}

TEST(KnobRow, AKeyStepCommitsAtOnce) {
    Knob knob;
    knob.row.slider()->setFocus();
    QTest::keyClick(knob.row.slider(), Qt::Key_Right);
    ASSERT_EQ(knob.commits.size(), 1u);
    EXPECT_EQ(knob.commits[0], 5);
}

TEST(KnobRow, NeitherTheStoredValueNorARefreshCommitsAnything) {
    Knob knob;
    QSlider* slider = knob.row.slider();
    const double stored = duration.position(4);
    QTest::mousePress(slider, Qt::LeftButton, {}, knob.at(stored));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, knob.at(stored));
    QApplication::processEvents();
    EXPECT_TRUE(knob.commits.empty());
    knob.row.setValue(9);
    knob.row.setValue(9);
    EXPECT_TRUE(knob.commits.empty());
    EXPECT_EQ(knob.row.valueText()->text(), "0.9 s");
    EXPECT_EQ(slider->value(), qRound(duration.position(9) * KnobRow::sliderSteps));
}

}  // namespace
}  // namespace tindlewave
