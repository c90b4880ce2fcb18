#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>

#include "Settings/Views/SpeedGraph.h"

namespace tindlewave {
namespace {

SpeedCurve curveOf(std::vector<SpeedCurve::Point> points) {
    return SpeedCurve::make(std::move(points)).value();
}

struct Graph {
    SpeedCurve curve = curveOf({{1, 40}, {5, 250}, {50, 5000}});
    std::vector<SpeedCurve> commits;
    SpeedGraph graph{curve, [this](const SpeedCurve& c, SpeedGraph::Refused) { commits.push_back(c); }};

    Graph() {
        graph.resize(584, 360);
        graph.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&graph));
    }
    QPointF canvasAt(const PlotPoint& plot) const {
        return {plot.x + CurveGraph::marginLeft, plot.y + CurveGraph::marginTop};
    }
    QPointF pointAt(std::size_t index) const {
        return canvasAt(graph.graph().position(graph.editor().shown().points()[index]));
    }
    void send(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QWidget* canvas = graph.canvas();
        QMouseEvent event(type, at, canvas->mapToGlobal(at), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(canvas, &event);
    }
    void doubleClick(QPointF at) {
        send(QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
    }
    void hover(QPointF at) { send(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton); }
};

TEST(SpeedGraph, ADragCommitsOnceAtItsEnd) {
    Graph g;
    const QPointF start = g.pointAt(1);
    g.send(QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    g.send(QEvent::MouseMove, start + QPointF(20, -10), Qt::NoButton, Qt::LeftButton);
    g.send(QEvent::MouseMove, start + QPointF(40, -20), Qt::NoButton, Qt::LeftButton);
    EXPECT_TRUE(g.commits.empty());
    EXPECT_TRUE(g.graph.caption()->text().startsWith("at "));
    g.send(QEvent::MouseButtonRelease, start + QPointF(40, -20), Qt::LeftButton, Qt::NoButton);
    ASSERT_EQ(g.commits.size(), 1u);
    EXPECT_EQ(g.graph.editor().shown(), g.commits[0]);
    g.graph.setCurve(g.commits[0]);
    EXPECT_EQ(g.graph.editor().draft(), std::nullopt);
}

TEST(SpeedGraph, ANotEditableGraphIgnoresDoubleClicksButFollowsThePointer) {
    Graph g;
    g.graph.setEditable(false);
    EXPECT_TRUE(g.graph.isEnabled());
    g.doubleClick(g.pointAt(1));
    g.doubleClick(g.canvasAt({g.graph.graph().x(20), 40}));
    EXPECT_TRUE(g.commits.empty());
    EXPECT_EQ(g.graph.editor().shown(), g.curve);
    EXPECT_EQ(g.graph.caption()->text(),
              "A single step from rest scrolls 40 pt. Point at the graph to read it.");
    g.hover(g.pointAt(1));
    EXPECT_EQ(g.graph.caption()->text(), "at 5 steps/s: 250 pt/s, 50 pt per step");

    g.graph.setEditable(true);
    g.doubleClick(g.pointAt(1));
    ASSERT_EQ(g.commits.size(), 1u);
    EXPECT_EQ(g.commits[0].points().size(), 2u);
}

}  // namespace
}  // namespace tindlewave
