// The LCD mirror: its form state, the segment forms of the digit codes, the annunciator
// symbols and what it actually paints.
#include <gtest/gtest.h>

#include <QImage>

#include "meter/lcdpanel.h"

namespace {
using E = LcdElement;

TEST(LcdPanel, FormStateShows3999WithVolt) {
    LcdPanel panel;
    EXPECT_EQ(panel.DisplayText(), QStringLiteral("3.999"));
    EXPECT_EQ(panel.AnnunciatorText(), QStringLiteral("V"));
    EXPECT_EQ(panel.Shown(), (LcdElementSet{E::LcdP0, E::LcdV}));
}

TEST(LcdPanel, DisplayTextFollowsDigitsSignAndPoint) {
    LcdPanel panel;
    const char* digits = " 0@ ";
    for (int i = 0; i < 4; ++i) panel.SetDigit(i, digits[i]);
    panel.SetShown(E::LcdP0, false);
    panel.SetShown(E::LcdP1, true);
    panel.SetShown(E::LcdFH, true);
    EXPECT_EQ(panel.DisplayText(), QStringLiteral("- 0.L "));
    EXPECT_EQ(panel.Digit(2), '@');
}

TEST(LcdPanel, AnnunciatorSymbols) {
    struct Case {
        std::vector<LcdElement> shown;
        QString text;
    };
    const Case cases[] = {
        {{E::LcdV, E::LcdDc1}, QStringLiteral("DC V")},
        {{E::LCDu, E::LCDA, E::LcdAC}, QStringLiteral("AC µ A")},
        {{E::LCDFm, E::LCDohm}, QString::fromUtf8("Ω ♫")},
        {{E::LCDk, E::LCDBF}, QStringLiteral("k DUTY")},
        {{E::LCDM1, E::LCDohm}, QString::fromUtf8("M Ω")},
        {{E::LCDDI, E::LcdV}, QString::fromUtf8("V ▶|")},
        {{}, QString()},
    };
    for (const Case& c : cases) {
        LcdPanel panel;
        panel.SetShown(E::LcdV, false);
        for (LcdElement e : c.shown) panel.SetShown(e, true);
        EXPECT_EQ(panel.AnnunciatorText(), c.text);
    }
}

TEST(LcdPanel, SevenSegmentForms) {
    struct Case {
        char code;
        int segments;  // a=1 b=2 c=4 d=8 e=16 f=32 g=64
    };
    const Case cases[] = {{'0', 0x3F}, {'1', 0x06}, {'2', 0x5B}, {'3', 0x4F}, {'4', 0x66}, {'5', 0x6D},
                          {'6', 0x7D}, {'7', 0x07}, {'8', 0x7F}, {'9', 0x6F}, {'@', 0x38}, {'-', 0x40},
                          {' ', 0x00}, {'E', 0x79}, {'.', -1},   {'x', -1}};
    for (const Case& c : cases) EXPECT_EQ(LcdPanel::Segments(c.code), c.segments) << c.code;
}

// Dark pixels inside a region of the painted panel.
int DarkPixels(const QImage& img, const QRect& r) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (qGray(img.pixel(x, y)) < 80) ++n;
    return n;
}

TEST(LcdPanel, PaintsLitSegmentsAndAnnunciatorsOnly) {
    LcdPanel panel;
    panel.resize(318, 150);
    // The first digit cell of the design layout and the unit's place.
    const QRect firstDigit(40, 36, 38, 98);
    const QRect unit(268, 62, 46, 34);
    const QRect coupling(8, 6, 62, 20);

    panel.SetDigit(0, ' ');
    QImage blank = panel.grab().toImage();
    EXPECT_EQ(DarkPixels(blank, firstDigit), 0);
    EXPECT_GT(DarkPixels(blank, unit), 20);  // the volt symbol of the form
    EXPECT_EQ(DarkPixels(blank, coupling), 0);

    panel.SetDigit(0, '8');
    panel.SetShown(E::LcdV, false);
    panel.SetShown(E::LcdDc1, true);
    QImage eight = panel.grab().toImage();
    EXPECT_GT(DarkPixels(eight, firstDigit), 500);
    EXPECT_EQ(DarkPixels(eight, unit), 0);
    EXPECT_GT(DarkPixels(eight, coupling), 20);

    panel.SetDigit(0, '1');
    QImage one = panel.grab().toImage();
    const int ones = DarkPixels(one, firstDigit);
    EXPECT_GT(ones, 50);
    EXPECT_LT(ones, DarkPixels(eight, firstDigit) / 2);
}

}  // namespace
