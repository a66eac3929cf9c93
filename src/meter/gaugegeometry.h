#pragma once
// Geometry of the analog gauge, as pure functions of the gauge panel's size.
//
// The dial is an arc of a circle whose chord of width W lies H below the arc's top; the panel
// keeps a margin of 20 pixels left and right and 30 pixels above and below. Every quantity is
// held as a single float, the sweep is converted to degrees with the constant 3.1415 while
// angles go back to radians with full pi, and points are rounded half to even.
#include <cstdint>
#include <string>
#include <vector>

struct GaugePoint {
    int32_t X = 0;
    int32_t Y = 0;
    bool operator==(const GaugePoint&) const = default;
};

struct GaugeGeometry {
    float W = 0;      // panel width - 40
    float H = 0;      // panel height - 60
    float R = 0;      // radius: (4·H·H + W·W) / (8·H)
    float Span = 0;   // sweep in degrees: 2·atan((W/2)/(R-H))·180/3.1415
    float Start = 0;  // angle of the left end: (180 - Span)/2
};

GaugeGeometry ComputeGaugeGeometry(int32_t panelWidth, int32_t panelHeight);

// Round half to even.
int32_t NearestEven(double x);

// Angle in radians of step k of a scale of `steps` steps.
float GaugeStepAngle(const GaugeGeometry& g, double steps, double k);

// The point at radius R + d for the angle theta.
GaugePoint GaugePointAt(const GaugeGeometry& g, float theta, double d);

struct NeedleLine {
    GaugePoint Tip;  // on the circle, 4 pixels below the arc
    GaugePoint End;  // where the radius meets the line 280 pixels below the chord
};

// The needle for a position on the scale 0..10·divisions (wide dial: -100..900 on 0..1000).
NeedleLine GaugeNeedle(const GaugeGeometry& g, int32_t position, int32_t divisions, bool wideScale);

// ---- the dial's labels and tick dots ----

enum class TickDot { None, White, Red };

struct DialLabel {
    int32_t Step = 0;
    std::string Text;
    int32_t Dx = 0;  // the label's top-left corner is (L.X - Dx, L.Y - Dy)
    int32_t Dy = 0;
};

struct DialScale {
    int32_t Steps = 0;              // S1: the dial's step count
    std::vector<DialLabel> Labels;  // in step order
    TickDot Dot = TickDot::None;    // colour of the tick dots the set draws
    int32_t DotEvery = 0;           // tick dot at every step i with i mod DotEvery == DotAt
    int32_t DotAt = 0;
    bool HasTickDot(int32_t step) const { return Dot != TickDot::None && DotEvery > 0 && step % DotEvery == DotAt; }
};

// The dial selected by KdScale ("2", "34", "4", "6"; any other text: no labels, no dots) or
// the wide 100-step dial.
DialScale SelectDialScale(const std::string& kdScale, bool wideScale, int32_t divisions);

// The arc dot j (0 .. 10·divisions) is red beyond an enabled limit: v = (j - scaleMax/10)·10
// above maxLimit (maxOn) or below minLimit (minOn), both strict.
bool ArcDotRed(int32_t j, int32_t scaleMax, float maxLimit, bool maxOn, float minLimit, bool minOn);

// ---- enlarge / restore of the gauge panel ----

struct PanelBounds {
    int32_t Left = 0, Top = 0, Width = 0, Height = 0;
    bool operator==(const PanelBounds&) const = default;
};

// The panel is in its normal layout while narrower than 470 pixels.
bool GaugePanelIsNormal(int32_t panelWidth);
// The enlarged gauge panel inside a window of the given outer size.
PanelBounds GaugeEnlargedBounds(int32_t outerWidth, int32_t outerHeight);
