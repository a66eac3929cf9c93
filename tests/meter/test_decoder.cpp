// The reading decoder: points, digits, sign, overloads, prefixes, modes, auto range, bar,
// waveform and the step at which a spoilt frame stops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "meter/decoder.h"
#include "meter/meterframe.h"

namespace {
using E = LcdElement;

std::string Frame(const std::string& display, char sign = ' ', char prefix = ' ', char mode = '0', char coupling = '0',
                  uint8_t autoByte = 0) {
    FrameContent c;
    c.display = display;
    c.sign = sign;
    c.prefix = prefix;
    c.modeDigit = mode;
    c.couplingDigit = coupling;
    c.autoByte = autoByte;
    return EncodeFrame(c);
}

std::string Digits(const DecodeResult& r) { return std::string(r.Digits.begin(), r.Digits.end()); }

TEST(Decoder, BuiltInTestFrame) {
    const DecodeResult r = DecodeFrame(kTestFrameHex);
    ASSERT_TRUE(r.Ok()) << r.Error;
    EXPECT_EQ(r.Dp, 1);
    EXPECT_EQ(Digits(r), "0066");
    EXPECT_FALSE(r.Minus);
    EXPECT_EQ(r.PointsShown, (LcdElementSet{E::LcdP1}));
    EXPECT_EQ(r.AnnunciatorsShown, (LcdElementSet{E::LcdV, E::LcdDc1}));
    EXPECT_EQ(r.ValueText, "00.66");
    EXPECT_EQ(r.SymbolText, " V");
    EXPECT_EQ(r.AcDcText, "DC");
    EXPECT_EQ(r.AutoText, "");
    EXPECT_EQ(r.ValueNum, 66.0f);
    EXPECT_EQ(r.GaugePosition, 406);
    EXPECT_EQ(r.BarPosition, 1);
    EXPECT_EQ(r.BarShown, 1);
    EXPECT_EQ(r.DiagnosticText, "6");
    EXPECT_EQ(r.Chart, ChartAction::Reset);
    EXPECT_TRUE(r.Wave.empty());
}

// Readings: points, digits, sign, overloads, the numeric value, the gauge and the bar.
TEST(Decoder, Readings) {
    struct Case {
        const char* name;
        std::string display;
        char sign;
        int dp;
        const char* digits;  // as the panel shows them
        LcdElementSet points;
        const char* valueText;
        float valueNum;
        int gauge;
        int bar;
        int barShown;
    };
    const Case cases[] = {
        {"no point", "1234 ", ' ', -1, "1234", {}, "1234", 1234, 523, 12, 12},
        {"point after first digit", "1.234", ' ', 0, "1234", {E::LcdP0}, "1.234", 1234, 523, 12, 12},
        {"point after third digit", "123.4", ' ', 2, "1234", {E::LcdP2}, "123.4", 1234, 523, 12, 12},
        {"negative", "12.34", '-', 1, "1234", {E::LcdP1}, "-12.34", -1234, 277, 12, 12},
        {"negative zero", "00.00", '-', 1, "0000", {E::LcdP1}, "-00.00", 0, 400, 1, 1},
        {"bar of one", "01.99", ' ', 1, "0199", {E::LcdP1}, "01.99", 199, 419, 1, 1},
        {"bar of two", "02.00", ' ', 1, "0200", {E::LcdP1}, "02.00", 200, 420, 2, 2},
        {"bar of 40", "40.00", ' ', 1, "4000", {E::LcdP1}, "40.00", 4000, 800, 40, 40},
        {"bar beyond its range", "99.99", ' ', 1, "9999", {E::LcdP1}, "99.99", 9999, 1399, 99, 40},
        {"leading blank digit", " 1234", ' ', -1, " 123", {}, " 123", 123, 412, 1, 1},
        {"positive overload", " 0.L ", ' ', 1, " 0@ ", {E::LcdP1}, " 0.L", 60, 800, 40, 40},
        {"negative overload", " 0.L ", '-', 1, " 0@ ", {E::LcdP1}, "- 0.L", -60, 0, 40, 40},
        {"sign byte other than minus", "12.34", '+', 1, "1234", {E::LcdP1}, "12.34", 1234, 523, 12, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DecodeResult r = DecodeFrame(Frame(c.display, c.sign));
        EXPECT_EQ(r.Dp, c.dp);
        EXPECT_EQ(Digits(r), c.digits);
        EXPECT_EQ(r.PointsShown, c.points);
        EXPECT_EQ(r.Minus, c.sign == '-');
        EXPECT_EQ(r.ValueText, c.valueText);
        ASSERT_TRUE(r.Ok()) << r.Error;
        EXPECT_EQ(r.ValueNum, c.valueNum);
        EXPECT_EQ(r.GaugePosition, c.gauge);
        EXPECT_EQ(r.BarPosition, c.bar);
        EXPECT_EQ(r.BarShown, c.barShown);
    }
}

TEST(Decoder, RightmostPointWins) {
    // Points in bytes 23 and 25: dp 2, digits from bytes 22, 23, 24, 26 (the first point is a
    // digit character then, so the value cannot be converted).
    const DecodeResult r = DecodeFrame(Frame("1.2.3"));
    EXPECT_EQ(r.Dp, 2);
    EXPECT_EQ(Digits(r), "1.23");
    EXPECT_EQ(r.PointsShown, (LcdElementSet{E::LcdP2}));
    EXPECT_EQ(r.ValueText, "1.2.3");
    EXPECT_EQ(r.FailedStep, 14);
    EXPECT_EQ(r.Error, "'1.23' is not a valid integer value");
}

TEST(Decoder, ScaleConstantsShapeOverloadAndGauge) {
    ScaleConstants s;
    s.ScaleMax = 50;
    s.KdZero = 500;
    s.KdDivisions = 100;
    s.BarFull = 35;
    const DecodeResult over = DecodeFrame(Frame(" 0.L "), s);
    EXPECT_EQ(over.ValueNum, 50.0f);
    EXPECT_EQ(over.GaugePosition, 1000);
    EXPECT_EQ(over.BarPosition, 35);
    const DecodeResult plain = DecodeFrame(kTestFrameHex, s);
    EXPECT_EQ(plain.GaugePosition, 506);
}

// Measuring modes with their prefixes and coupling.
TEST(Decoder, ModesPrefixesAndCoupling) {
    struct Case {
        const char* name;
        char mode;
        char prefix;
        char coupling;
        const char* symbol;
        const char* acdc;
        LcdElementSet shown;
    };
    const Case cases[] = {
        {"volt, no prefix, DC", '0', ' ', '0', " V", "DC", {E::LcdV, E::LcdDc1}},
        {"millivolt AC", '0', 'm', '5', "mV", "AC", {E::Lcdm, E::LcdV, E::LcdAC}},
        {"prefix V in volt mode", '0', 'V', '0', "V", "DC", {E::LcdV, E::LcdDc1}},
        {"ampere DC, kilo", '1', 'k', '0', "kA", "DC", {E::LCDk, E::LCDA, E::LcdDc1}},
        {"prefix A in ampere mode is micro", '1', 'A', '1', "uA", "AC", {E::LCDu, E::LCDA, E::LcdAC}},
        {"micro prefix, ampere", '1', 'u', '0', "uA", "DC", {E::LCDu, E::LCDA, E::LcdDc1}},
        {"kilohertz", '2', 'k', '0', "kHz", "", {E::LCDk, E::LCDHz}},
        {"hertz, coupling 2", '2', ' ', '2', " Hz", "", {E::LCDHz}},
        {"duty replaces the unit", '2', 'k', '1', "Duty", "", {E::LCDk, E::LCDBF}},
        {"nanofarad", '3', 'n', '0', "nF", "", {E::LCDn, E::LCDF}},
        {"microfarad", '3', 'u', '0', "uF", "", {E::LCDu, E::LCDF}},
        {"megohm", '4', 'M', '0', "M*", "", {E::LCDM1, E::LCDohm}},
        {"ohm with the & symbol", '5', ' ', '0', " *&", "", {E::LCDFm, E::LCDohm}},
        {"diode", '6', ' ', '0', " V)", "", {E::LCDDI, E::LcdV}},
        {"mode 7", '7', 'k', '0', "k", "", {E::LCDk}},
        {"mode 8", '8', 'm', '1', "m", "", {E::Lcdm}},
        {"mode 9", '9', ' ', '0', " ", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DecodeResult r = DecodeFrame(Frame("00.66", ' ', c.prefix, c.mode, c.coupling));
        ASSERT_TRUE(r.Ok()) << r.Error;
        EXPECT_EQ(r.Mode, c.mode - '0');
        EXPECT_EQ(r.SymbolText, c.symbol);
        EXPECT_EQ(r.AcDcText, c.acdc);
        EXPECT_EQ(r.AnnunciatorsShown, c.shown);
        EXPECT_EQ(r.Prefix, std::string(1, c.prefix));
    }
}

TEST(Decoder, HexModeDigitStopsAtTheModeStep) {
    for (char mode : {'A', 'B', 'C', 'D', 'E', 'F'}) {
        SCOPED_TRACE(mode);
        const DecodeResult r = DecodeFrame(Frame("12.34", '-', 'k', mode));
        EXPECT_EQ(r.FailedStep, 11);
        EXPECT_EQ(r.Error, std::string("'") + mode + "' is not a valid integer value");
        // Steps before it are decided: digits, sign, prefix, diagnostic character.
        EXPECT_TRUE(r.Reached(10));
        EXPECT_FALSE(r.Reached(11));
        EXPECT_EQ(Digits(r), "1234");
        EXPECT_TRUE(r.Minus);
        EXPECT_EQ(r.Prefix, "k");
        EXPECT_EQ(r.PrefixShown, (LcdElementSet{E::LCDk}));
        EXPECT_EQ(r.DiagnosticText, "4");
        EXPECT_EQ(r.ValueText, "");
    }
}

TEST(Decoder, DiodeModeMovesThePointToTheFirstDigitOnly) {
    // The frame's own point after the second digit; diode mode shows one point after the first.
    const DecodeResult r = DecodeFrame(Frame("05.12", ' ', ' ', '6'));
    ASSERT_TRUE(r.Ok()) << r.Error;
    EXPECT_EQ(r.PointsAfterDigits, (LcdElementSet{E::LcdP1}));
    EXPECT_EQ(r.PointsShown, (LcdElementSet{E::LcdP0}));
    EXPECT_EQ(r.Dp, 0);
    EXPECT_EQ(r.ValueText, "0.512");
    EXPECT_EQ(r.ValueNum, 512.0f);
}

TEST(Decoder, AutoRangeOnlyForExactlyOne) {
    struct Case {
        uint8_t byte;
        const char* text;
    };
    const Case cases[] = {{0, ""}, {1, "AUTO"}, {2, ""}, {0x11, ""}, {0x81, ""}, {0xFF, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.byte));
        const DecodeResult r = DecodeFrame(Frame("00.66", ' ', ' ', '0', '0', c.byte));
        ASSERT_TRUE(r.Ok());
        EXPECT_EQ(r.AutoText, c.text);
    }
}

// Frames whose digits are no number stop at the step that converts them.
TEST(Decoder, FailingConversionsStopAtTheirStep) {
    struct Case {
        const char* name;
        std::string frame;
        int failedStep;
        const char* error;
    };
    const std::string test = kTestFrameHex;
    const Case cases[] = {
        {"empty frame text", "", 2, "'$' is not a valid integer value"},
        {"frame cut before the digits", test.substr(0, 40), 2, "'$' is not a valid integer value"},
        {"trailing blank digit", Frame("  5  "), 14, "'  5 ' is not a valid integer value"},
        {"only the fourth digit", Frame("   5 "), 15, "'   ' is not a valid integer value"},
        {"two leading blanks", Frame("  12 "), 18, "'  ' is not a valid integer value"},
        {"letters", Frame("AbCd "), 14, "'AbCd' is not a valid integer value"},
        {"L then 0 in the middle digits", Frame("1L0.5"), 14, "'1@05' is not a valid integer value"},
        {"negative with blanks after the sign", Frame(" 12.3", '-'), 14, "'- 123' is not a valid integer value"},
        // Digits are decimal: a "$" or "0x" in the digit bytes is no hexadecimal number.
        {"dollar before the digits", Frame("$12.3"), 14, "'$123' is not a valid integer value"},
        {"0x before the digits", Frame("0x1.2"), 14, "'0x12' is not a valid integer value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DecodeResult r = DecodeFrame(c.frame);
        EXPECT_EQ(r.FailedStep, c.failedStep);
        EXPECT_EQ(r.Error, c.error);
        EXPECT_FALSE(r.Ok());
        EXPECT_EQ(r.Chart, ChartAction::None);
    }
}

TEST(Decoder, WhatAFailedPassAlreadyDecided) {
    // Fails at the bar (step 18): value, gauge and auto range are decided, bar and chart not.
    const DecodeResult bar = DecodeFrame(Frame("  12 ", ' ', 'm', '0', '0', 1));
    EXPECT_EQ(bar.FailedStep, 18);
    EXPECT_EQ(bar.ValueText, "  12");
    EXPECT_EQ(bar.ValueNum, 12.0f);
    EXPECT_EQ(bar.GaugePosition, 401);
    EXPECT_EQ(bar.AutoText, "AUTO");
    EXPECT_EQ(bar.SymbolText, "mV");
    EXPECT_TRUE(bar.Reached(17));
    EXPECT_FALSE(bar.Reached(18));

    // "0L" in the first two digits is no overload (that needs it in the middle two), and no number.
    const DecodeResult early = DecodeFrame(Frame("0.L  "));
    EXPECT_EQ(early.Dp, 0);
    EXPECT_EQ(Digits(early), "0@  ");
    EXPECT_EQ(early.ValueText, "0.@  ");
    EXPECT_EQ(early.FailedStep, 14);

    // "L0" in the middle: the point after the third digit is dropped before the value text.
    const DecodeResult l0 = DecodeFrame(Frame("1L0.5"));
    EXPECT_EQ(l0.Dp, 2);
    EXPECT_EQ(l0.PointsAfterDigits, (LcdElementSet{E::LcdP2}));
    EXPECT_EQ(l0.PointsShown, LcdElementSet{});
    EXPECT_EQ(l0.ValueText, "1@05");
}

TEST(Waveform, SamplePairsAndOffset) {
    struct Case {
        const char* name;
        uint8_t a, b, offset;
        int y;
    };
    const Case cases[] = {
        {"0x80 is +128 and wins over 127", 0x80, 0x7F, 0x00, 128},
        {"equal magnitude takes the second sample", 0x81, 0x7F, 0x00, 127},
        {"equal magnitude, negative second", 0x7F, 0x81, 0x00, -127},
        {"larger negative magnitude", 0x05, 0xF0, 0x00, -16},
        {"larger first sample", 0xEC, 0x03, 0x00, -20},
        {"both zero", 0x00, 0x00, 0x00, 0},
        {"offset 0xF6 lowers by 10", 0x14, 0x00, 0xF6, 10},
        {"offset 0x80 raises by 128", 0x00, 0x01, 0x80, 129},
        {"offset 0x81 lowers by 127", 0x00, 0xFF, 0x81, -128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameContent content;
        content.offset = c.offset;
        content.wave.assign(320, 0);
        for (int i = 0; i < 160; ++i) {
            content.wave[size_t(2 * i)] = c.a;
            content.wave[size_t(2 * i + 1)] = c.b;
        }
        const DecodeResult r = DecodeFrame(EncodeFrame(content));
        ASSERT_TRUE(r.Ok()) << r.Error;
        EXPECT_EQ(r.Chart, ChartAction::Waveform);
        ASSERT_EQ(r.Wave.size(), 160u);
        for (int y : r.Wave) EXPECT_EQ(y, c.y);
    }
}

TEST(Waveform, PairsKeepTheirOrder) {
    FrameContent content;
    content.offset = 0x02;
    content.wave.assign(320, 0);
    for (int i = 0; i < 160; ++i) content.wave[size_t(2 * i + 1)] = uint8_t(i % 100);
    const std::vector<int> ys = DecodeWave(EncodeFrame(content));
    ASSERT_EQ(ys.size(), 160u);
    for (int i = 0; i < 160; ++i) EXPECT_EQ(ys[size_t(i)], i % 100 + 2) << i;
}

TEST(Waveform, ReadingFrameResetsWaveformFrameDrawsAfterTheRecordStep) {
    const DecodeResult reading = DecodeFrame(kTestFrameHex);
    EXPECT_EQ(reading.Chart, ChartAction::Reset);
    FrameContent content;
    content.wave.assign(320, 0x10);
    const DecodeResult wave = DecodeFrame(EncodeFrame(content));
    EXPECT_EQ(wave.Chart, ChartAction::Waveform);
    EXPECT_EQ(wave.ValueText, "00.66");
    // A spoilt waveform byte stops the pass at the chart step, after the record.
    std::string spoilt = EncodeFrame(content);
    spoilt[700] = 'G';
    const DecodeResult bad = DecodeFrame(spoilt);
    EXPECT_EQ(bad.FailedStep, 19);
    EXPECT_TRUE(bad.Reached(18));
    EXPECT_EQ(bad.Chart, ChartAction::None);
}

TEST(BarClamp, IntoZeroToForty) {
    struct Case {
        int in, out;
    };
    const Case cases[] = {{-5, 0}, {0, 0}, {1, 1}, {39, 39}, {40, 40}, {41, 40}, {99, 40}};
    for (const Case& c : cases) EXPECT_EQ(ClampBar(c.in), c.out) << c.in;
}

// Any well-formed frame text can only fail where digits or the mode are converted.
TEST(Decoder, RandomFramesFailOnlyAtConversionSteps) {
    uint32_t seed = 12345;
    int complete = 0;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return uint8_t(seed >> 16);
    };
    for (int n = 0; n < 3000; ++n) {
        std::vector<uint8_t> bytes(n % 3 == 0 ? 361 : 41);
        for (uint8_t& b : bytes) b = next();
        bytes[0] = 0x5A;
        // Most frames get digit characters, so that passes also run to their end.
        if (n % 2 == 0)
            for (int k = 21; k <= 26; ++k) bytes[size_t(k)] = uint8_t("0123456789 .-L"[next() % 14]);
        const std::string hex = BytesToHex(bytes);
        const DecodeResult r = DecodeFrame(hex);
        SCOPED_TRACE(hex);
        const bool hexMode = (bytes[6] & 0x0F) >= 10;
        if (hexMode) {
            EXPECT_EQ(r.FailedStep, 11);
        } else {
            EXPECT_TRUE(r.FailedStep == 0 || r.FailedStep == 14 || r.FailedStep == 15 || r.FailedStep == 18)
                << r.FailedStep;
        }
        if (r.Ok()) {
            ++complete;
            EXPECT_EQ(r.Chart, bytes.size() == 361 ? ChartAction::Waveform : ChartAction::Reset);
            EXPECT_EQ(r.Wave.size(), bytes.size() == 361 ? 160u : 0u);
            EXPECT_GE(r.BarShown, 0);
            EXPECT_LE(r.BarShown, kBarMax);
        }
    }
    EXPECT_GT(complete, 100);  // the sample reaches the end of the pass, too
}

}  // namespace
