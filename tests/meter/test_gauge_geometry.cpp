// Gauge geometry against the worked values of the designed 371 x 143 panel, the dial's label
// sets, the limit colouring of the arc and the enlarge bounds.
#include <gtest/gtest.h>

#include <cmath>

#include "meter/gaugegeometry.h"

namespace {

GaugeGeometry Designed() { return ComputeGaugeGeometry(371, 143); }

TEST(GaugeGeometry, DesignedPanelQuantities) {
    const GaugeGeometry g = Designed();
    EXPECT_FLOAT_EQ(g.W, 331.0f);
    EXPECT_FLOAT_EQ(g.H, 83.0f);
    EXPECT_NEAR(g.R, 206.5015, 1e-4);
    EXPECT_NEAR(g.Span, 106.5401, 1e-4);
    EXPECT_NEAR(g.Start, 36.7299, 1e-4);
    // The 3.1415 constant makes the sweep a little wider than the exact chord angle.
    const double exact = 2.0 * std::atan((331.0 / 2.0) / (206.50151 - 83.0)) * 180.0 / M_PI;
    EXPECT_GT(g.Span - exact, 0.002);
    EXPECT_LT(g.Span - exact, 0.004);
}

TEST(GaugeGeometry, RoundHalfToEven) {
    struct Case {
        double x;
        int n;
    };
    const Case cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {-0.5, 0}, {-1.5, -2}, {2.4999, 2}, {2.5001, 3}};
    for (const Case& c : cases) EXPECT_EQ(NearestEven(c.x), c.n) << c.x;
}

TEST(GaugeGeometry, NeedleWorkedValues) {
    struct Case {
        int position;
        GaugePoint tip, end;
    };
    const Case cases[] = {
        {0, {20, 117}, {395, 393}},
        {400, {186, 34}, {185, 393}},
        {800, {351, 117}, {-24, 393}},
    };
    const GaugeGeometry g = Designed();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        const NeedleLine n = GaugeNeedle(g, c.position, 80, false);
        EXPECT_EQ(n.Tip, c.tip);
        EXPECT_EQ(n.End, c.end);
    }
}

TEST(GaugeGeometry, NeedleIsSymmetricAndMovesClockwise) {
    const GaugeGeometry g = Designed();
    int lastX = -1000;
    for (int p = 0; p <= 800; p += 50) {
        const NeedleLine n = GaugeNeedle(g, p, 80, false);
        EXPECT_GT(n.Tip.X, lastX) << p;
        lastX = n.Tip.X;
        const NeedleLine m = GaugeNeedle(g, 800 - p, 80, false);
        EXPECT_EQ(n.Tip.Y, m.Tip.Y) << p;
        EXPECT_NEAR(n.Tip.X - 20, 351 - m.Tip.X, 1) << p;
    }
}

TEST(GaugeGeometry, WideScaleNeedleRunsOverAThousand) {
    // The wide scale maps position -100 .. 900 onto the arc.
    const GaugeGeometry g = Designed();
    EXPECT_EQ(GaugeNeedle(g, -100, 80, true).Tip, GaugeNeedle(g, 0, 80, false).Tip);
    EXPECT_EQ(GaugeNeedle(g, 400, 80, true).Tip, GaugeNeedle(g, 400, 80, false).Tip);
    EXPECT_EQ(GaugeNeedle(g, 900, 80, true).Tip, GaugeNeedle(g, 800, 80, false).Tip);
}

TEST(GaugeGeometry, DialPointsWorkedValues) {
    struct Case {
        const char* what;
        double steps, k, radiusOffset;
        GaugePoint p;
    };
    const Case cases[] = {
        {"label 0", 80, 0, 18, {6, 102}},         {"label 40", 80, 40, 18, {186, 12}},
        {"label 80", 80, 80, 18, {365, 102}},     {"tick 0", 80, 0, 6, {15, 109}},
        {"tick 40", 80, 40, 6, {186, 24}},        {"tick 80", 80, 80, 6, {356, 109}},
        {"arc dot 0", 800, 0, 3, {18, 111}},      {"arc dot 400", 800, 400, 3, {186, 27}},
        {"arc dot 800", 800, 800, 3, {353, 111}},
    };
    const GaugeGeometry g = Designed();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(GaugePointAt(g, GaugeStepAngle(g, c.steps, c.k), c.radiusOffset), c.p);
    }
}

TEST(DialScale, LabelSetsAndTickDots) {
    struct Case {
        const char* scale;
        bool wide;
        int steps;
        std::vector<int> labelSteps;
        std::vector<std::string> texts;
        TickDot dot;
        std::vector<int> dotSteps;    // steps that get a tick dot
        std::vector<int> noDotSteps;  // steps that do not
    };
    const Case cases[] = {
        {"4",
         false,
         80,
         {0, 10, 20, 30, 40, 50, 60, 70, 80},
         {"-40", "-30", "-20", "-10", "0", "10", "20", "30", "40"},
         TickDot::White,
         {0, 10, 80},
         {1, 5, 79}},
        {"2",
         false,
         80,
         {0, 5, 10, 15, 20, 25, 30, 35, 40},
         {"-20", "-15", "-10", "-5", "0", "5", "10", "15", "20"},
         TickDot::None,
         {},
         {0, 10, 40}},
        {"34",
         false,
         80,
         {4, 14, 24, 34, 44, 54, 64},
         {"-30", "-20", "-10", "0", "10", "20", "30"},
         TickDot::Red,
         {4, 14, 64, 74},
         {0, 10, 5}},
        {"6",
         false,
         80,
         {0, 15, 30, 45, 60, 75, 90, 105, 120},
         {"-60", "-45", "-30", "-15", "0", "15", "30", "45", "60"},
         TickDot::Red,
         {0, 15, 30, 75},
         {10, 20, 5}},
        {"4",
         true,
         100,
         {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100},
         {"-50", "-40", "-30", "-20", "-10", "0", "10", "20", "30", "40", "50"},
         TickDot::Red,
         {0, 50, 100},
         {5, 15}},
        {"5", false, 80, {}, {}, TickDot::None, {}, {0, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scale) + (c.wide ? " wide" : ""));
        const DialScale d = SelectDialScale(c.scale, c.wide, 80);
        EXPECT_EQ(d.Steps, c.steps);
        std::vector<int> steps;
        std::vector<std::string> texts;
        for (const DialLabel& l : d.Labels) {
            steps.push_back(l.Step);
            texts.push_back(l.Text);
        }
        EXPECT_EQ(steps, c.labelSteps);
        EXPECT_EQ(texts, c.texts);
        EXPECT_EQ(d.Dot, c.dot);
        for (int s : c.dotSteps) EXPECT_TRUE(d.HasTickDot(s)) << s;
        for (int s : c.noDotSteps) EXPECT_FALSE(d.HasTickDot(s)) << s;
    }
}

TEST(DialScale, LabelOffsets) {
    using Offsets = std::vector<std::pair<int, int>>;
    auto offsets = [](const DialScale& d) {
        Offsets o;
        for (const DialLabel& l : d.Labels) o.emplace_back(l.Dx, l.Dy);
        return o;
    };
    const Offsets nine{{5, 7}, {8, 6}, {10, 5}, {10, 4}, {3, 4}, {5, 5}, {8, 5}, {10, 6}, {12, 7}};
    Offsets six = nine;
    six.back() = {11, 7};
    EXPECT_EQ(offsets(SelectDialScale("4", false, 80)), nine);
    EXPECT_EQ(offsets(SelectDialScale("2", false, 80)), nine);
    EXPECT_EQ(offsets(SelectDialScale("6", false, 80)), six);
    EXPECT_EQ(offsets(SelectDialScale("34", false, 80)),
              (Offsets{{8, 6}, {10, 5}, {10, 4}, {3, 4}, {5, 5}, {8, 5}, {10, 6}}));
    EXPECT_EQ(offsets(SelectDialScale("4", true, 80)),
              (Offsets{{5, 7}, {8, 6}, {10, 5}, {10, 4}, {5, 4}, {3, 3}, {8, 5}, {8, 5}, {9, 4}, {12, 9}, {14, 11}}));
}

// Arc dots beyond an enabled limit are red; v = 10·j - 60 with ScaleMax 60.
TEST(ArcDots, LimitColouring) {
    struct Case {
        const char* name;
        float maxLimit;
        bool maxOn;
        float minLimit;
        bool minOn;
        int firstRed, lastRed;  // the red range of j (firstRed > lastRed: none)
        int secondFirst = 1, secondLast = 0;
    };
    const Case cases[] = {
        {"max 1000", 1000, true, 0, false, 107, 800},
        {"max 40000 (the form's text)", 40000, true, 0, false, 1, 0},
        {"max 0 (empty text)", 0, true, 0, false, 7, 800},
        {"min 0 (text \"-\")", 0, false, 0, true, 0, 5},
        {"min -40000", 0, false, -40000, true, 1, 0},
        {"max and min", 3000, true, 100, true, 0, 15, 307, 800},
        {"limits off", 0, false, 0, false, 1, 0},
        {"max 1000 switched off", 1000, false, 0, false, 1, 0},
        {"max below min", -100, true, 50000, true, 0, 800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int j = 0; j <= 800; ++j) {
            const bool red = (j >= c.firstRed && j <= c.lastRed) || (j >= c.secondFirst && j <= c.secondLast);
            ASSERT_EQ(ArcDotRed(j, 60, c.maxLimit, c.maxOn, c.minLimit, c.minOn), red) << "j=" << j;
        }
    }
}

TEST(GaugeEnlarge, NormalWhileNarrowerThan470) {
    EXPECT_TRUE(GaugePanelIsNormal(371));
    EXPECT_TRUE(GaugePanelIsNormal(469));
    EXPECT_FALSE(GaugePanelIsNormal(470));
    EXPECT_FALSE(GaugePanelIsNormal(717));
    EXPECT_EQ(GaugeEnlargedBounds(729, 520), (PanelBounds{2, 28, 717, 440}));
    EXPECT_EQ(GaugeEnlargedBounds(1000, 800), (PanelBounds{2, 28, 988, 720}));
}

}  // namespace
