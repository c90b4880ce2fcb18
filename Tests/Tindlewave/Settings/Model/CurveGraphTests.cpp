#include <gtest/gtest.h>

#include <cmath>

#include "Settings/Model/Scrolling/CurveEditor.h"
#include "Settings/Model/Scrolling/CurveGraph.h"

namespace tindlewave {
namespace {

SpeedCurve curveOf(std::vector<SpeedCurve::Point> points) {
    return SpeedCurve::make(std::move(points)).value();
}

const auto us = NumberFormat::enUS();
const CurveGraph graph{600, 300};
const SpeedCurve three = curveOf({{1, 40}, {5, 250}, {50, 5000}});

TEST(CurveGraph, GeometryAndItsInverse) {
    EXPECT_EQ(graph.x(1), 0);
    EXPECT_NEAR(graph.x(150), 600, 1e-9);
    EXPECT_NEAR(graph.y(10), 300, 1e-9);
    EXPECT_NEAR(graph.y(30000), 0, 1e-9);
    EXPECT_NEAR(graph.rate(graph.x(37)), 37, 1e-9);
    EXPECT_NEAR(graph.speed(graph.y(1234)), 1234, 1e-9);
    // Outside the plot: the nearest edge's value.
    EXPECT_EQ(graph.rate(-40), 1);
    EXPECT_NEAR(graph.rate(900), 150, 1e-9);
    EXPECT_NEAR(graph.speed(-10), 30000, 1e-6);
    EXPECT_EQ(graph.speed(400), 10);
    const auto canvas = CurveGraph::inCanvas(584, 300);
    EXPECT_EQ(canvas.width, 504);
    EXPECT_EQ(canvas.height, 234);
    EXPECT_TRUE(graph.contains({0, 0}));
    EXPECT_FALSE(graph.contains({600, 10}));
    EXPECT_FALSE(graph.contains({10, 300}));
}

TEST(CurveGraph, PicksTheNearestPointWithinTheRadiusAndTheEarlierOnATie) {
    const PlotPoint first = graph.position(three.points()[0]);
    EXPECT_EQ(graph.pointIndex({first.x + 6, first.y + 7.9}, three, 10), 0u);
    EXPECT_EQ(graph.pointIndex({first.x + 7, first.y + 8}, three, 10), std::nullopt);
    // Two points 20 apart on a line; the pointer half-way between them.
    const CurveGraph flat{20 / (std::log(2) / std::log(150)), 300};
    const SpeedCurve pair = curveOf({{1, 100}, {2, 100}});
    const PlotPoint a = flat.position(pair.points()[0]);
    EXPECT_EQ(flat.pointIndex({a.x + 10, a.y}, pair, 10), 0u);
    EXPECT_EQ(flat.pointIndex({a.x + 10.5, a.y}, pair, 10), 1u);
}

TEST(CurveGraph, DraggingKeepsNeighboursApartAndRounds) {
    // The first point far left gives rate 1; the last far right 150.
    EXPECT_EQ(CurveGraph::dragging(three, 0, {0.2, 40}).points()[0].stepsPerSecond, 1);
    EXPECT_EQ(CurveGraph::dragging(three, 2, {900, 5000}).points()[2].stepsPerSecond, 150);
    // Past a neighbour: stops at a ratio of 1.08 to it, then rounded.
    EXPECT_EQ(CurveGraph::dragging(three, 1, {100, 250}).points()[1].stepsPerSecond,
              46);  // 50 / 1.08
    EXPECT_EQ(CurveGraph::dragging(three, 1, {0.5, 250}).points()[1].stepsPerSecond,
              1.1);  // 1 * 1.08
    // Rates: a tenth below 10 after clamping, else whole.
    EXPECT_EQ(CurveGraph::dragging(three, 1, {9.96, 250}).points()[1].stepsPerSecond, 10);
    EXPECT_EQ(CurveGraph::dragging(three, 1, {23.6, 250}).points()[1].stepsPerSecond, 24);
    // Speeds: whole below 100, else three significant digits.
    const SpeedCurve wide = curveOf({{1, 10}, {5, 250}, {50, 30000}});
    EXPECT_EQ(CurveGraph::dragging(wide, 1, {5, 99.4}).points()[1].pointsPerSecond, 99);
    EXPECT_EQ(CurveGraph::dragging(wide, 1, {5, 1234.5}).points()[1].pointsPerSecond, 1230);
    EXPECT_EQ(CurveGraph::dragging(wide, 1, {5, 12360}).points()[1].pointsPerSecond, 12400);
    // Between the neighbours' speeds.
    EXPECT_EQ(CurveGraph::dragging(three, 1, {5, 9000}).points()[1].pointsPerSecond, 5000);
    EXPECT_EQ(CurveGraph::dragging(three, 1, {5, 12}).points()[1].pointsPerSecond, 40);
    // No such point: the curve as given.
    EXPECT_EQ(CurveGraph::dragging(three, 7, {5, 12}), three);
}

TEST(CurveGraph, DraggingBetweenCrowdedNeighboursKeepsTheRate) {
    const SpeedCurve crowded = curveOf({{1, 40}, {1.1, 50}, {1.15, 60}});
    EXPECT_EQ(CurveGraph::dragging(crowded, 1, {1.13, 55}).points()[1],
              (SpeedCurve::Point{1.1, 55}));
}

TEST(CurveGraph, AddingRespectsTheRatioAndTheCap) {
    const SpeedCurve curve = curveOf({{1, 40}, {5, 250}, {120, 9000}});
    EXPECT_EQ(CurveGraph::adding(curve, 5.3), std::nullopt);
    const auto added = CurveGraph::adding(curve, 5.4);
    ASSERT_TRUE(added);
    ASSERT_EQ(added->points().size(), 4u);
    EXPECT_EQ(added->points()[2].stepsPerSecond, 5.4);
    EXPECT_EQ(added->points()[2].pointsPerSecond,
              CurveGraph::roundedSpeed(curve.pointsPerSecond(5.4)));
    // Rounded and clamped: 0.2 becomes 1, next to the point at 1.
    EXPECT_EQ(CurveGraph::adding(curve, 0.2), std::nullopt);
    const auto atEnd = CurveGraph::adding(curve, 400);
    ASSERT_TRUE(atEnd);
    EXPECT_EQ(atEnd->points().back(), (SpeedCurve::Point{150, 9000}));

    std::vector<SpeedCurve::Point> ten;
    for (int i = 0; i < 10; ++i) ten.push_back({1.0 + i * 10, 40.0 + i});
    EXPECT_EQ(CurveGraph::adding(curveOf(ten), 95), std::nullopt);
    ten.pop_back();
    EXPECT_TRUE(CurveGraph::adding(curveOf(ten), 95));
}

TEST(CurveGraph, RemovingKeepsAtLeastTwoPoints) {
    EXPECT_EQ(CurveGraph::removing(three, 1), curveOf({{1, 40}, {50, 5000}}));
    EXPECT_EQ(CurveGraph::removing(curveOf({{1, 40}, {50, 5000}}), 0), std::nullopt);
    EXPECT_EQ(CurveGraph::removing(three, 3), std::nullopt);
}

TEST(CurveGraph, Texts) {
    EXPECT_EQ(CurveGraph::number(2.5, us), "2.5");
    EXPECT_EQ(CurveGraph::number(5, us), "5");
    EXPECT_EQ(CurveGraph::number(37.4, us), "37");
    EXPECT_EQ(CurveGraph::number(1230, us), "1,230");
    EXPECT_EQ(CurveGraph::number(2.5, NumberFormat{",", "."}), "2,5");
    EXPECT_EQ(CurveGraph::readout(three, 5, us), "at 5 steps/s: 250 pt/s, 50 pt per step");
    EXPECT_EQ(CurveGraph::singleStep(three, us),
              "A single step from rest scrolls 40 pt. Point at the graph to read it.");
    EXPECT_EQ(CurveGraph::pointList(curveOf({{1, 40}, {2.5, 100}}), us),
              "1 steps/s: 40 pt/s, 2.5 steps/s: 100 pt/s");
    EXPECT_EQ(CurveGraph::bands().front().label, "slow 4\u201312");
    EXPECT_EQ(CurveGraph::bands().size(), 4u);
}

PlotPoint at(const SpeedCurve& curve, std::size_t index) {
    return graph.position(curve.points()[index]);
}

TEST(CurveEditor, ADragMovesFromItsBaseAndCommitsOnceAtTheEnd) {
    CurveEditor editor(three);
    const PlotPoint start = at(three, 1);
    editor.dragChanged(start, {start.x + 30, start.y}, graph, true);
    editor.dragChanged(start, {start.x + 60, start.y}, graph, true);
    ASSERT_TRUE(editor.drag());
    EXPECT_EQ(editor.drag()->base, three);
    const double rate = editor.shown().points()[1].stepsPerSecond;
    EXPECT_EQ(rate, CurveGraph::roundedRate(graph.rate(start.x + 60)));
    EXPECT_EQ(editor.caption(graph, us), CurveGraph::readout(editor.shown(), rate, us));
    EXPECT_EQ(editor.highlight(graph), (CurveEditor::Highlight{1, std::nullopt}));
    const auto committed = editor.dragEnded();
    ASSERT_TRUE(committed);
    EXPECT_EQ(*committed, editor.shown());
    EXPECT_EQ(editor.drag(), std::nullopt);
    EXPECT_TRUE(editor.draft());  // shown until the curve in force changes
    editor.setCurve(*committed);
    EXPECT_EQ(editor.draft(), std::nullopt);

    // A refused curve gives way to the curve in force, but not to a later one still on its way.
    const auto removed = editor.doubleClick(at(*committed, 1), graph, true);
    const auto added = editor.doubleClick({graph.x(30), 5}, graph, true);
    ASSERT_TRUE(removed && added);
    editor.refused(*removed);
    EXPECT_EQ(editor.shown(), *added);
    editor.refused(*added);
    EXPECT_EQ(editor.draft(), std::nullopt);
    EXPECT_EQ(editor.shown(), *committed);
}

TEST(CurveEditor, ADragFarFromEveryPointOrEndingWhereItBeganDoesNothing) {
    CurveEditor editor(three);
    const PlotPoint far{at(three, 1).x, at(three, 1).y - 40};
    editor.dragChanged(far, at(three, 1), graph, true);
    editor.dragChanged(far, at(three, 2), graph, true);
    EXPECT_EQ(editor.drag(), std::nullopt);
    EXPECT_EQ(editor.dragEnded(), std::nullopt);
    EXPECT_EQ(editor.shown(), three);

    const PlotPoint start = at(three, 1);
    editor.dragChanged(start, {start.x + 40, start.y}, graph, true);
    editor.dragChanged(start, start, graph, true);
    EXPECT_EQ(editor.dragEnded(), std::nullopt);
    EXPECT_EQ(editor.draft(), std::nullopt);
}

TEST(CurveEditor, ANotEditableGraphIgnoresEditsButFollowsThePointer) {
    CurveEditor editor(three);
    editor.dragChanged(at(three, 1), {10, 10}, graph, false);
    EXPECT_EQ(editor.drag(), std::nullopt);
    EXPECT_EQ(editor.doubleClick(at(three, 1), graph, false), std::nullopt);
    editor.hover({graph.x(5), 150});
    EXPECT_EQ(editor.caption(graph, us), CurveGraph::readout(three, 5, us));
    editor.hover({graph.x(5), 320});  // below the plot
    EXPECT_EQ(editor.caption(graph, us), CurveGraph::singleStep(three, us));
    editor.left();
    EXPECT_EQ(editor.highlight(graph), CurveEditor::Highlight{});
}

TEST(CurveEditor, DoubleClicksAddOrRemoveAndNewCurvesClearTheDraft) {
    CurveEditor editor(three);
    const auto removed = editor.doubleClick(at(three, 1), graph, true);
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->points().size(), 2u);
    EXPECT_EQ(editor.shown(), *removed);
    // A two-point curve keeps its points.
    EXPECT_EQ(editor.doubleClick(at(*removed, 0), graph, true), std::nullopt);
    // Off the points: a point at that rate, whatever the height.
    const auto added = editor.doubleClick({graph.x(20), 5}, graph, true);
    ASSERT_TRUE(added);
    EXPECT_EQ(added->points()[1].stepsPerSecond, 20);
    editor.setCurve(SpeedCurve::defaults());
    EXPECT_EQ(editor.draft(), std::nullopt);
    EXPECT_EQ(editor.shown(), SpeedCurve::defaults());
    // The hover guide off the points, a highlight near one.
    editor.hover({graph.x(3), 100});
    EXPECT_EQ(editor.highlight(graph).point, std::nullopt);
    EXPECT_NEAR(*editor.highlight(graph).guideRate, 3, 1e-9);
}

}  // namespace
}  // namespace tindlewave
