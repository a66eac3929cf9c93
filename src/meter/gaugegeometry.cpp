#include "meter/gaugegeometry.h"

#include <cmath>

namespace {
constexpr double kPi = 3.14159265358979324;
constexpr double kDegreePi = 3.1415;  // the sweep's conversion to degrees
}  // namespace

GaugeGeometry ComputeGaugeGeometry(int32_t panelWidth, int32_t panelHeight) {
    GaugeGeometry g;
    g.W = float(panelWidth - 40);
    g.H = float(panelHeight - 60);
    const double w = g.W, h = g.H;
    g.R = float((4.0 * h * h + w * w) / (8.0 * h));
    g.Span = float(2.0 * std::atan((w / 2.0) / (double(g.R) - h)) * 180.0 / kDegreePi);
    g.Start = float((180.0 - double(g.Span)) / 2.0);
    return g;
}

int32_t NearestEven(double x) { return int32_t(std::nearbyint(x)); }

float GaugeStepAngle(const GaugeGeometry& g, double steps, double k) {
    return float((double(g.Span) / steps * k + double(g.Start)) * kPi / 180.0);
}

GaugePoint GaugePointAt(const GaugeGeometry& g, float theta, double d) {
    const double r = double(g.R) + d;
    const float c = float(r * std::cos(double(theta)));
    const float s = float(r * std::sin(double(theta)));
    return GaugePoint{NearestEven(double(g.W) / 2.0 - double(c) + 20.0), NearestEven(double(g.R) - double(s) + 30.0)};
}

NeedleLine GaugeNeedle(const GaugeGeometry& g, int32_t position, int32_t divisions, bool wideScale) {
    const double full = wideScale ? 1000.0 : 10.0 * divisions;
    const double p = wideScale ? double(position) + 100.0 : double(position);
    const float theta = GaugeStepAngle(g, full, p);
    const double c = std::cos(double(theta));
    const double s = std::sin(double(theta));
    NeedleLine n;
    n.Tip.X = NearestEven(double(g.W) / 2.0 - double(g.R) * c) + 20;
    n.Tip.Y = NearestEven(double(g.R) - double(g.R) * s + 4.0) + 30;
    const float reach = float(double(g.R) - double(g.H) - 280.0);
    const float q = float(double(reach) * c / s);
    n.End.Y = NearestEven(double(g.H) + 280.0) + 30;
    n.End.X = NearestEven(double(g.W) / 2.0 - double(q)) + 20;
    return n;
}

DialScale SelectDialScale(const std::string& kdScale, bool wideScale, int32_t divisions) {
    struct Offset {
        int dx, dy;
    };
    static const Offset kOffsets9[] = {{5, 7}, {8, 6}, {10, 5}, {10, 4}, {3, 4}, {5, 5}, {8, 5}, {10, 6}, {12, 7}};
    static const Offset kOffsets34[] = {{8, 6}, {10, 5}, {10, 4}, {3, 4}, {5, 5}, {8, 5}, {10, 6}};
    static const Offset kOffsetsWide[] = {{5, 7}, {8, 6}, {10, 5}, {10, 4}, {5, 4},  {3, 3},
                                          {8, 5}, {8, 5}, {9, 4},  {12, 9}, {14, 11}};
    DialScale d;
    d.Steps = wideScale ? 100 : divisions;
    auto addLabels = [&d](int first, int every, int firstValue, int valueStep, const Offset* offsets, int count) {
        for (int i = 0; i < count; ++i)
            d.Labels.push_back(
                DialLabel{first + i * every, std::to_string(firstValue + i * valueStep), offsets[i].dx, offsets[i].dy});
    };
    if (wideScale) {
        addLabels(0, 10, -50, 10, kOffsetsWide, 11);
        d.Dot = TickDot::Red;
        d.DotEvery = 10;
        d.DotAt = 0;
    } else if (kdScale == "2") {
        addLabels(0, 5, -20, 5, kOffsets9, 9);
    } else if (kdScale == "34") {
        addLabels(4, 10, -30, 10, kOffsets34, 7);
        d.Dot = TickDot::Red;
        d.DotEvery = 10;
        d.DotAt = 4;
    } else if (kdScale == "4") {
        addLabels(0, 10, -40, 10, kOffsets9, 9);
        d.Dot = TickDot::White;
        d.DotEvery = 10;
        d.DotAt = 0;
    } else if (kdScale == "6") {
        addLabels(0, 15, -60, 15, kOffsets9, 9);
        d.Labels.back().Dx = 11;
        d.Dot = TickDot::Red;
        d.DotEvery = 15;
        d.DotAt = 0;
    }
    return d;
}

bool ArcDotRed(int32_t j, int32_t scaleMax, float maxLimit, bool maxOn, float minLimit, bool minOn) {
    const double v = (double(j) - double(scaleMax) / 10.0) * 10.0;
    if (v > double(maxLimit) && maxOn) return true;
    if (v < double(minLimit) && minOn) return true;
    return false;
}

bool GaugePanelIsNormal(int32_t panelWidth) { return panelWidth < 470; }

PanelBounds GaugeEnlargedBounds(int32_t outerWidth, int32_t outerHeight) {
    return PanelBounds{2, 28, outerWidth - 12, outerHeight - 80};
}
