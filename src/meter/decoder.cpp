#include "meter/decoder.h"

#include <algorithm>

#include "meter/convert.h"
#include "meter/meterframe.h"

const LcdElementSet kAnnunciators{LcdElement::LcdV,  LcdElement::Lcdm,  LcdElement::LCDohm, LcdElement::LCDk,
                                  LcdElement::LCDM1, LcdElement::LCDF,  LcdElement::LCDn,   LcdElement::LCDu,
                                  LcdElement::LCDA,  LcdElement::LCDHz, LcdElement::LCDBF,  LcdElement::LCDFm,
                                  LcdElement::LCDDI, LcdElement::LcdAC, LcdElement::LcdDc1};
const LcdElementSet kPointShapes{LcdElement::LcdP0, LcdElement::LcdP1, LcdElement::LcdP2};

namespace {
// A conversion failure inside the pass, with the step it happened in.
struct StepFailure {
    int step;
    std::string message;
};

// Runs one conversion of a step; a conversion error becomes a StepFailure of that step.
template <class F>
auto AtStep(int step, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const ConvertError& e) {
        throw StepFailure{step, e.what()};
    }
}

LcdElement PointShape(int dp) { return dp == 0 ? LcdElement::LcdP0 : dp == 1 ? LcdElement::LcdP1 : LcdElement::LcdP2; }

void SetCoupling(const std::string& cc, DecodeResult& r) {
    if (cc == "0") {
        r.AnnunciatorsShown.Add(LcdElement::LcdDc1);
        r.AcDcText = "DC";
    } else {
        r.AnnunciatorsShown.Add(LcdElement::LcdAC);
        r.AcDcText = "AC";
    }
}

void RunPass(const std::string& hex, const ScaleConstants& scale, DecodeResult& r) {
    // 2. Decimal point: the rightmost point of bytes 23..25 wins.
    AtStep(2, [&] {
        r.Dp = -1;
        if (FrameByte(hex, 23) == 0x2E) r.Dp = 0;
        if (FrameByte(hex, 24) == 0x2E) r.Dp = 1;
        if (FrameByte(hex, 25) == 0x2E) r.Dp = 2;
    });
    // 3.
    std::string p0, p1, p2;
    // 4. Digits around the point.
    AtStep(4, [&] {
        static const int kDigitBytes[4][4] = {{22, 24, 25, 26}, {22, 23, 25, 26}, {22, 23, 24, 26}, {22, 23, 24, 25}};
        const int row = r.Dp < 0 ? 3 : r.Dp;
        std::array<char, 4> d{};
        for (int i = 0; i < 4; ++i) d[size_t(i)] = FrameChar(hex, kDigitBytes[row][i]);
        r.Digits = d;
        if (r.Dp >= 0) r.PointsAfterDigits.Add(PointShape(r.Dp));
    });
    if (r.Dp == 0) p0 = ".";
    if (r.Dp == 1) p1 = ".";
    if (r.Dp == 2) p2 = ".";
    // 5. Sign.
    AtStep(5, [&] {
        r.Minus = FrameByte(hex, 21) == 0x2D;
        r.Sign = r.Minus ? "-" : "";
    });
    // 6. The overload letter is the segment font's '@'.
    for (char& c : r.Digits)
        if (c == 'L') c = '@';
    // 7. Captions (applied by the panel). 8. Texts and annunciators cleared (applied by the caller).
    // 9. Prefix.
    AtStep(9, [&] {
        const char prefix = FrameChar(hex, 27);
        r.Prefix = std::string(1, prefix);
        switch (prefix) {
            case 'm': r.PrefixShown.Add(LcdElement::Lcdm); break;
            case 'k': r.PrefixShown.Add(LcdElement::LCDk); break;
            case 'M': r.PrefixShown.Add(LcdElement::LCDM1); break;
            case 'n': r.PrefixShown.Add(LcdElement::LCDn); break;
            case 'u': r.PrefixShown.Add(LcdElement::LCDu); break;
            default: break;
        }
    });
    // 10. Diagnostic character.
    AtStep(10, [&] { r.DiagnosticText = std::string(1, FrameChar(hex, 26)); });
    // 11. Mode.
    AtStep(11, [&] {
        const int m = StrToInt(FrameCharAt(hex, 14));
        const std::string cc = FrameCharAt(hex, 22);
        r.Mode = m;
        r.AnnunciatorsShown = r.PrefixShown;
        std::string symbol = r.Prefix;
        switch (m) {
            case 0:
                r.AnnunciatorsShown.Add(LcdElement::LcdV);
                symbol = symbol == "V" ? "V" : symbol + "V";
                SetCoupling(cc, r);
                break;
            case 1:
                r.AnnunciatorsShown.Add(LcdElement::LCDA);
                if (symbol == "A") {
                    r.AnnunciatorsShown.Add(LcdElement::LCDu);
                    symbol = "uA";
                } else {
                    symbol += "A";
                }
                SetCoupling(cc, r);
                break;
            case 2:
                if (cc == "1") {
                    r.AnnunciatorsShown.Add(LcdElement::LCDBF);
                    symbol = "Duty";
                } else {
                    r.AnnunciatorsShown.Add(LcdElement::LCDHz);
                    symbol += "Hz";
                }
                break;
            case 3:
                r.AnnunciatorsShown.Add(LcdElement::LCDF);
                symbol += "F";
                break;
            case 4:
                r.AnnunciatorsShown.Add(LcdElement::LCDohm);
                symbol += "*";
                break;
            case 5:
                r.AnnunciatorsShown.Add(LcdElement::LCDFm);
                r.AnnunciatorsShown.Add(LcdElement::LCDohm);
                symbol += "*&";
                break;
            case 6:
                r.AnnunciatorsShown.Add(LcdElement::LCDDI);
                r.AnnunciatorsShown.Add(LcdElement::LcdV);
                symbol += "V)";
                r.Dp = 0;
                break;
            default: break;
        }
        r.SymbolText = symbol;
    });
    // 12. Final point: only the point of the final position is set (mode 6 moves it to the
    // first digit, and the point text of the frame's own position must not stay behind).
    p0.clear();
    p1.clear();
    p2.clear();
    if (r.Dp == 0) p0 = ".";
    if (r.Dp == 1) p1 = ".";
    if (r.Dp == 2) p2 = ".";
    if (r.Dp >= 0) r.PointsShown.Add(PointShape(r.Dp));
    const char d0 = r.Digits[0], da = r.Digits[1], db = r.Digits[2], dc = r.Digits[3];
    if (da == '@' && db == '0') {
        // "L0" in the middle digits: no point after the third digit.
        p2.clear();
        r.PointsShown.Remove(LcdElement::LcdP2);
    }
    // 13. ValueText.
    if (db == '@')
        r.ValueText = r.Sign + d0 + p0 + da + p1 + "L" + p2;
    else
        r.ValueText = r.Sign + d0 + p0 + da + p1 + db + p2 + dc;
    // 14. ValueNum.
    const std::string o = r.Sign + da + db;
    const bool positiveOverload = o == "0@";
    const bool negativeOverload = o == "-0@";
    AtStep(14, [&] {
        if (positiveOverload)
            r.ValueNum = float(scale.ScaleMax);
        else if (negativeOverload)
            r.ValueNum = -float(scale.ScaleMax);
        else
            r.ValueNum = float(StrToInt(r.Sign + d0 + da + db + dc));
    });
    // 15. Gauge position (the fourth digit dropped).
    AtStep(15, [&] {
        if (positiveOverload)
            r.GaugePosition = scale.KdDivisions * 10;
        else if (negativeOverload)
            r.GaugePosition = 0;
        else
            r.GaugePosition = StrToInt(r.Sign + d0 + da + db) + scale.KdZero;
    });
    // 16. Auto range.
    AtStep(16, [&] { r.AutoText = FrameByte(hex, 19) == 1 ? "AUTO" : ""; });
    // 17. Record (the caller).
    // 18. Bar: the first two digits on the bar's 0..40 scale.
    AtStep(18, [&] {
        if (std::string{da, db} == "0@") {
            r.BarPosition = scale.BarFull;
        } else {
            const int v = StrToInt(std::string{d0, da});
            r.BarPosition = v <= 1 ? 1 : v;
        }
        r.BarShown = ClampBar(r.BarPosition);
    });
    // 19. Chart.
    AtStep(19, [&] {
        if (hex.size() == kReadingFrameChars) {
            r.Chart = ChartAction::Reset;
        } else if (hex.size() == kWaveFrameChars) {
            r.Wave = DecodeWave(hex);
            r.Chart = ChartAction::Waveform;
        }
    });
}
}  // namespace

DecodeResult DecodeFrame(const std::string& frameHex, const ScaleConstants& scale) {
    DecodeResult r;
    try {
        RunPass(frameHex, scale, r);
    } catch (const StepFailure& f) {
        r.FailedStep = f.step;
        r.Error = f.message;
    }
    return r;
}

std::vector<int> DecodeWave(const std::string& frameHex) {
    std::vector<int> ys;
    ys.reserve(kWaveSamples);
    const int offset = SignedFrameByte(FrameByte(frameHex, 12));
    for (int i = 0; i < kWaveSamples; ++i) {
        const int a = SignedFrameByte(FrameByte(frameHex, kWaveFirstByte + 2 * i));
        const int b = SignedFrameByte(FrameByte(frameHex, kWaveFirstByte + 2 * i + 1));
        const int s = a * a > b * b ? a : b;
        ys.push_back(s + offset);
    }
    return ys;
}

int32_t ClampBar(int32_t position) { return std::clamp<int32_t>(position, 0, kBarMax); }
