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
    std::vector<KnobRow::Refused> refusals;
    KnobRow row{"Glide after you stop", "", duration, KnobUnit::tenthsOfASecond, 4,
                [this](double value, KnobRow::Refused refused) {
                    commits.push_back(value);
                    refusals.push_back(std::move(refused));
                }};

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
    EXPECT_EQ(knob.row.valueText()->text(), "0.5 s");

    // The save is refused and 5 never comes back: what is stored afterwards is shown.
    knob.row.setValue(4);
    EXPECT_EQ(knob.row.valueText()->text(), "0.5 s");  // a refresh while it may be on its way
    knob.row.setValue(7);
    EXPECT_EQ(knob.row.valueText()->text(), "0.7 s");
    knob.row.setValue(2);
    EXPECT_EQ(knob.row.valueText()->text(), "0.2 s");
    EXPECT_EQ(knob.row.slider()->value(), qRound(duration.position(2) * KnobRow::sliderSteps));
    EXPECT_EQ(knob.commits.size(), 1u);
}

// Key steps faster than a save: an older value stored meanwhile leaves the slider where the
// steps took it, and every step writes a value past the one before.
TEST(KnobRow, AnOlderStoredValueLeavesKeyStepsInPlace) {
    const SliderScale distance{{20, 2000}, 10, SliderScale::Curve::logarithmic};
    std::vector<double> commits;
    KnobRow row("Distance before a swipe", "", distance, KnobUnit::counts, 400,
                [&](double value, KnobRow::Refused) { commits.push_back(value); });
    QSlider* slider = row.slider();
    QTest::keyClick(slider, Qt::Key_Left);
    QTest::keyClick(slider, Qt::Key_Left);
    const int after = slider->value();
    row.setValue(commits.at(0));
    EXPECT_EQ(slider->value(), after);
    QTest::keyClick(slider, Qt::Key_Left);
    ASSERT_EQ(commits.size(), 3u);
    EXPECT_GT(commits[0], commits[1]);
    EXPECT_GT(commits[1], commits[2]);
    row.setValue(commits[1]);
    row.setValue(commits[2]);
    EXPECT_EQ(slider->value(), qRound(distance.position(commits[2]) * KnobRow::sliderSteps));
    EXPECT_EQ(row.valueText()->text(), QString("%1 counts").arg(commits[2]));
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
