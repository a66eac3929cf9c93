#pragma once
// The reading decoder: one pass over a complete meter frame, as a pure function. The window
// (TFCOMM::LcdDisplay42) applies the result step by step; the headless logger and the
// "decode" subcommand use the same result without a window.
//
// The pass has 19 steps, in this order:
//   1 link alive            2 find the decimal point   3 clear the point texts
//   4 digits and point      5 sign                      6 overload letter L -> '@'
//   7 digit captions        8 clear texts/annunciators  9 range prefix
//  10 diagnostic character 11 measuring mode           12 final point
//  13 ValueText            14 ValueNum                 15 gauge position
//  16 AutoText             17 record (the window's INDataToTable)
//  18 bar                  19 chart (reset, or reset and waveform)
// A conversion that fails ends the pass at its step: the steps before it are done, nothing of
// the failing step and the steps after it.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct ScaleConstants {
    int32_t ScaleMax = 60;     // ValueNum of an overload; chart axis limit
    int32_t KdZero = 400;      // gauge position of zero
    int32_t KdDivisions = 80;  // ten times this is the gauge's full scale
    int32_t BarFull = 40;      // bar position of an overload
};

// Largest position the bar can show (its range is 0..40).
constexpr int kBarMax = 40;

// The panel's switchable elements (besides the four digit captions).
enum class LcdElement : int {
    LcdFH,  // minus sign
    LcdP0,  // point after the first digit
    LcdP1,  // point after the second digit
    LcdP2,  // point after the third digit
    Lcdm,   // prefixes: milli, kilo, mega, nano, micro
    LCDk,
    LCDM1,
    LCDn,
    LCDu,
    LcdV,  // modes: volt, ampere, hertz, farad, ohm, the "&" symbol, diode, duty
    LCDA,
    LCDHz,
    LCDF,
    LCDohm,
    LCDFm,
    LCDDI,
    LCDBF,
    LcdAC,  // coupling
    LcdDc1,
    LcdAuto,  // never switched by the decoder
    LCDHold,
    LCDRec,
    LCDBATT,
    LCDTRMST,
    LCDTRMS,
    LcdACDC,
    LCDJa,
    Count
};
constexpr int kLcdElementCount = int(LcdElement::Count);

// A set of panel elements.
class LcdElementSet {
public:
    constexpr LcdElementSet() = default;
    constexpr LcdElementSet(std::initializer_list<LcdElement> elements) {
        for (LcdElement e : elements) bits_ |= Bit(e);
    }
    constexpr bool Has(LcdElement e) const { return (bits_ & Bit(e)) != 0; }
    constexpr void Add(LcdElement e) { bits_ |= Bit(e); }
    constexpr void Remove(LcdElement e) { bits_ &= ~Bit(e); }
    constexpr uint32_t Bits() const { return bits_; }
    constexpr bool operator==(const LcdElementSet&) const = default;

private:
    static constexpr uint32_t Bit(LcdElement e) { return uint32_t(1) << int(e); }
    uint32_t bits_ = 0;
};

// The prefix and mode annunciators and the coupling labels: every one of them is hidden in step 8.
extern const LcdElementSet kAnnunciators;
// The three point shapes.
extern const LcdElementSet kPointShapes;

enum class ChartAction { None, Reset, Waveform };

struct DecodeResult {
    // 0 when the pass ran to its end; otherwise the step whose conversion failed, with the
    // conversion's message ("'A' is not a valid integer value").
    int FailedStep = 0;
    std::string Error;
    bool Reached(int step) const { return FailedStep == 0 || step < FailedStep; }
    bool Ok() const { return FailedStep == 0; }

    // Step 2 (and 11 for mode 6): -1 none, 0, 1, 2.
    int Dp = -1;
    // Step 4: the point shape shown for the frame's own point (the other two hidden).
    LcdElementSet PointsAfterDigits;
    // Step 5.
    bool Minus = false;
    std::string Sign;
    // Steps 6/7: the four digit characters as the panel shows them ('@' for L).
    std::array<char, 4> Digits{' ', ' ', ' ', ' '};
    // Step 9: the prefix character (SymbolText after step 9) and its annunciator, if any.
    std::string Prefix;
    LcdElementSet PrefixShown;
    // Step 10: the character of byte 26 (diagnostic label).
    std::string DiagnosticText;
    // Step 11: the mode number and every annunciator shown after it (prefix included).
    int Mode = -1;
    LcdElementSet AnnunciatorsShown;
    std::string SymbolText;
    std::string AcDcText;
    // Step 12: the one point shape shown (none for no point).
    LcdElementSet PointsShown;
    // Step 13.
    std::string ValueText;
    // Step 14.
    float ValueNum = 0.0f;
    // Step 15: the position handed to the gauge (not clamped).
    int32_t GaugePosition = 0;
    // Step 16.
    std::string AutoText;
    // Step 18: the position the decoder gives the bar, and the position the bar shows.
    int32_t BarPosition = 0;
    int32_t BarShown = 0;
    // Step 19.
    ChartAction Chart = ChartAction::None;
    std::vector<int> Wave;  // 160 y values for a 722-character frame
};

// Decodes one frame text. Never throws: a failing conversion is reported in FailedStep/Error.
DecodeResult DecodeFrame(const std::string& frameHex, const ScaleConstants& scale = ScaleConstants{});

// The 160 waveform y values of a 722-character frame: per sample pair the sample of the larger
// magnitude (the second one on a tie) plus the signed offset byte 12. Raises ConvertError for
// a frame whose waveform bytes are not hex text.
std::vector<int> DecodeWave(const std::string& frameHex);

// The bar's position clamped into its range 0..kBarMax.
int32_t ClampBar(int32_t position);
