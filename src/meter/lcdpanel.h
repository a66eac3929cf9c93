#pragma once
// The on-screen mirror of the meter's LCD (Panel1): a minus sign, four seven-segment digits,
// three decimal points, range prefixes, mode annunciators and AC/DC, all drawn by the panel
// itself. The digit captions are segment-font codes ("@" draws the letter L); the annunciators
// show their captions through the shared segment-symbol mapping ("*" ohm, "+" micro, ...).
//
// Before the first frame the panel shows the form's captions: 3.999 with the volt symbol.
#include <QFrame>
#include <array>

#include "meter/decoder.h"

class LcdPanel : public QFrame {
    Q_OBJECT
public:
    explicit LcdPanel(QWidget* parent = nullptr);

    // Visibility of one element (minus sign, point shapes, annunciators).
    void SetShown(LcdElement element, bool shown);
    bool IsShown(LcdElement element) const { return shown_.Has(element); }
    LcdElementSet Shown() const { return shown_; }

    // Caption of digit label 0..3 (LcdD0, LcdDa, LcdDb, LcdDc): one segment-font code.
    void SetDigit(int index, char code);
    char Digit(int index) const { return digits_[size_t(index)]; }

    // What the panel shows as text: the minus sign, the digits as the meter draws them ('@' as
    // L) with the visible point, e.g. "00.66" or "-1.234".
    QString DisplayText() const;
    // The captions of the visible prefix, mode and coupling annunciators as symbols, in panel
    // order, separated by blanks (e.g. "V DC", "k DUTY").
    QString AnnunciatorText() const;

    // The form's caption of an element (segment-font codes: "+" for micro, "*" for ohm).
    static const char* Caption(LcdElement element);
    // The lit segments (bit 0 = a … bit 6 = g) of a digit code; -1 for a code that has no
    // seven-segment form (drawn as a plain character).
    static int Segments(char code);

    QSize sizeHint() const override { return QSize(318, 150); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void DrawDigit(QPainter& p, const QRectF& cell, char code) const;
    LcdElementSet shown_;
    std::array<char, 4> digits_{'3', '9', '9', '9'};
};
