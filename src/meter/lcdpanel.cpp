#include "meter/lcdpanel.h"

#include <QPainter>
#include <QPainterPath>

#include "meter/segmentsymbols.h"

namespace {
// Panel layout in design coordinates (the panel's designed size); the painter scales it.
constexpr double kDesignW = 318.0;
constexpr double kDesignH = 150.0;
constexpr double kDigitLeft = 36.0;
constexpr double kDigitTop = 34.0;
constexpr double kDigitW = 44.0;
constexpr double kDigitH = 100.0;
constexpr double kDigitPitch = 58.0;
constexpr double kSlant = 0.08;

const QColor kLit(0x1C, 0x1C, 0x1C);

struct AnnunciatorPlace {
    LcdElement element;
    QRectF box;
    int pixelSize;
};

// Where each annunciator sits. Prefixes share one place (the meter lights one at a time, but
// micro may join the ampere symbol); units below them; the second mode symbol and DUTY lowest.
const AnnunciatorPlace kPlaces[] = {
    {LcdElement::LcdAC, {8, 6, 30, 20}, 16},     {LcdElement::LcdDc1, {40, 6, 30, 20}, 16},
    {LcdElement::LcdAuto, {74, 6, 50, 20}, 14},  {LcdElement::LCDHold, {126, 6, 44, 20}, 14},
    {LcdElement::LCDRec, {172, 6, 36, 20}, 14},  {LcdElement::LCDBATT, {210, 6, 40, 20}, 14},
    {LcdElement::LCDTRMS, {252, 6, 56, 20}, 14}, {LcdElement::LCDTRMST, {252, 6, 56, 20}, 14},
    {LcdElement::LcdACDC, {8, 6, 62, 20}, 16},   {LcdElement::LCDJa, {8, 128, 24, 20}, 14},
    {LcdElement::Lcdm, {266, 30, 22, 30}, 24},   {LcdElement::LCDk, {266, 30, 22, 30}, 24},
    {LcdElement::LCDM1, {266, 30, 22, 30}, 24},  {LcdElement::LCDn, {266, 30, 22, 30}, 24},
    {LcdElement::LCDu, {288, 30, 26, 30}, 24},   {LcdElement::LcdV, {266, 62, 48, 34}, 28},
    {LcdElement::LCDA, {266, 62, 48, 34}, 28},   {LcdElement::LCDHz, {266, 62, 48, 34}, 26},
    {LcdElement::LCDF, {266, 62, 48, 34}, 28},   {LcdElement::LCDohm, {266, 62, 48, 34}, 28},
    {LcdElement::LCDFm, {266, 98, 48, 26}, 22},  {LcdElement::LCDDI, {266, 98, 48, 26}, 20},
    {LcdElement::LCDBF, {258, 124, 58, 22}, 16},
};

// Point shapes: after digits 0, 1 and 2.
QRectF PointBox(int index) {
    const double x = kDigitLeft + index * kDigitPitch + kDigitW + 2.0;
    return QRectF(x, kDigitTop + kDigitH - 9.0, 8.0, 8.0);
}
}  // namespace

LcdPanel::LcdPanel(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0).lighter(115));
    setPalette(pal);
    // The form's state: 3.999 with the volt symbol.
    shown_ = LcdElementSet{LcdElement::LcdP0, LcdElement::LcdV};
}

void LcdPanel::SetShown(LcdElement element, bool shown) {
    if (shown_.Has(element) == shown) return;
    if (shown)
        shown_.Add(element);
    else
        shown_.Remove(element);
    update();
}

void LcdPanel::SetDigit(int index, char code) {
    if (index < 0 || index > 3 || digits_[size_t(index)] == code) return;
    digits_[size_t(index)] = code;
    update();
}

const char* LcdPanel::Caption(LcdElement element) {
    switch (element) {
        case LcdElement::LcdFH: return "-";
        case LcdElement::LcdP0:
        case LcdElement::LcdP1:
        case LcdElement::LcdP2: return ".";
        case LcdElement::Lcdm: return "m";
        case LcdElement::LCDk: return "k";
        case LcdElement::LCDM1: return "M";
        case LcdElement::LCDn: return "n";
        case LcdElement::LCDu: return "+";
        case LcdElement::LcdV: return "V";
        case LcdElement::LCDA: return "A";
        case LcdElement::LCDHz: return "Hz";
        case LcdElement::LCDF: return "F";
        case LcdElement::LCDohm: return "*";
        case LcdElement::LCDFm: return "&";
        case LcdElement::LCDDI: return ")";
        case LcdElement::LCDBF: return "DUTY";
        case LcdElement::LcdAC: return "AC";
        case LcdElement::LcdDc1: return "DC";
        case LcdElement::LcdAuto: return "AUTO";
        case LcdElement::LCDHold: return "HOLD";
        case LcdElement::LCDRec: return "REC";
        case LcdElement::LCDBATT: return "BATT";
        case LcdElement::LCDTRMST: return "TRMS";
        case LcdElement::LCDTRMS: return "TRMS";
        case LcdElement::LcdACDC: return "AC+DC";
        case LcdElement::LCDJa: return "J";
        case LcdElement::Count: break;
    }
    return "";
}

int LcdPanel::Segments(char code) {
    // Bits: a=1 b=2 c=4 d=8 e=16 f=32 g=64.
    switch (code) {
        case '0': return 0x3F;
        case '1': return 0x06;
        case '2': return 0x5B;
        case '3': return 0x4F;
        case '4': return 0x66;
        case '5': return 0x6D;
        case '6': return 0x7D;
        case '7': return 0x07;
        case '8': return 0x7F;
        case '9': return 0x6F;
        case ' ': return 0x00;
        case '-': return 0x40;
        case '_': return 0x08;
        case '@':
        case 'L': return 0x38;
        case 'A': return 0x77;
        case 'b': return 0x7C;
        case 'C': return 0x39;
        case 'c': return 0x58;
        case 'd': return 0x5E;
        case 'E': return 0x79;
        case 'F': return 0x71;
        case 'H': return 0x76;
        case 'h': return 0x74;
        case 'J': return 0x1E;
        case 'n': return 0x54;
        case 'o': return 0x5C;
        case 'P': return 0x73;
        case 'r': return 0x50;
        case 't': return 0x78;
        case 'U': return 0x3E;
        case 'u': return 0x1C;
        case 'y': return 0x6E;
        default: return -1;
    }
}

QString LcdPanel::DisplayText() const {
    QString s;
    if (shown_.Has(LcdElement::LcdFH)) s += QLatin1Char('-');
    static const LcdElement kPoints[3] = {LcdElement::LcdP0, LcdElement::LcdP1, LcdElement::LcdP2};
    for (int i = 0; i < 4; ++i) {
        s += SegmentSymbol(digits_[size_t(i)]);
        if (i < 3 && shown_.Has(kPoints[i])) s += QLatin1Char('.');
    }
    return s;
}

QString LcdPanel::AnnunciatorText() const {
    static const LcdElement kOrder[] = {
        LcdElement::LcdAC,  LcdElement::LcdDc1,  LcdElement::LcdACDC, LcdElement::LcdAuto,  LcdElement::LCDHold,
        LcdElement::LCDRec, LcdElement::LCDBATT, LcdElement::LCDTRMS, LcdElement::LCDTRMST, LcdElement::Lcdm,
        LcdElement::LCDk,   LcdElement::LCDM1,   LcdElement::LCDn,    LcdElement::LCDu,     LcdElement::LcdV,
        LcdElement::LCDA,   LcdElement::LCDHz,   LcdElement::LCDF,    LcdElement::LCDohm,   LcdElement::LCDFm,
        LcdElement::LCDDI,  LcdElement::LCDBF,   LcdElement::LCDJa};
    QStringList parts;
    for (LcdElement e : kOrder)
        if (shown_.Has(e)) parts << SegmentText(Caption(e));
    return parts.join(QLatin1Char(' '));
}

void LcdPanel::DrawDigit(QPainter& p, const QRectF& cell, char code) const {
    const int lit = Segments(code);
    if (lit < 0) {
        // A character without a seven-segment form: drawn as it is.
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(int(cell.height() * 0.8));
        f.setBold(true);
        p.setFont(f);
        p.setPen(kLit);
        p.drawText(cell, Qt::AlignCenter, SegmentSymbol(code));
        return;
    }
    const double t = cell.width() * 0.2;
    const double gap = 1.5;
    const double x = cell.left(), y = cell.top(), w = cell.width(), h = cell.height();
    const double bottom = cell.bottom();
    auto slant = [&](double px, double py) { return QPointF(px + (bottom - py) * kSlant, py); };
    auto horizontal = [&](double yc) {
        const double x1 = x + t / 2 + gap, x2 = x + w - t / 2 - gap;
        QPainterPath path;
        path.moveTo(slant(x1, yc));
        path.lineTo(slant(x1 + t / 2, yc - t / 2));
        path.lineTo(slant(x2 - t / 2, yc - t / 2));
        path.lineTo(slant(x2, yc));
        path.lineTo(slant(x2 - t / 2, yc + t / 2));
        path.lineTo(slant(x1 + t / 2, yc + t / 2));
        path.closeSubpath();
        return path;
    };
    auto vertical = [&](double xc, double y1, double y2) {
        y1 += gap;
        y2 -= gap;
        QPainterPath path;
        path.moveTo(slant(xc, y1));
        path.lineTo(slant(xc + t / 2, y1 + t / 2));
        path.lineTo(slant(xc + t / 2, y2 - t / 2));
        path.lineTo(slant(xc, y2));
        path.lineTo(slant(xc - t / 2, y2 - t / 2));
        path.lineTo(slant(xc - t / 2, y1 + t / 2));
        path.closeSubpath();
        return path;
    };
    const double top = y + t / 2, mid = y + h / 2, low = y + h - t / 2;
    const double left = x + t / 2, right = x + w - t / 2;
    const QPainterPath segments[7] = {
        horizontal(top),            // a
        vertical(right, top, mid),  // b
        vertical(right, mid, low),  // c
        horizontal(low),            // d
        vertical(left, mid, low),   // e
        vertical(left, top, mid),   // f
        horizontal(mid),            // g
    };
    const QColor ghost = palette().color(QPalette::Window).darker(106);
    p.setPen(Qt::NoPen);
    for (int s = 0; s < 7; ++s) {
        p.setBrush((lit >> s) & 1 ? kLit : ghost);
        p.drawPath(segments[s]);
    }
}

void LcdPanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRect area = contentsRect();
    p.translate(area.topLeft());
    p.scale(area.width() / kDesignW, area.height() / kDesignH);

    // Minus sign.
    const QColor ghost = palette().color(QPalette::Window).darker(106);
    p.setPen(Qt::NoPen);
    p.setBrush(shown_.Has(LcdElement::LcdFH) ? kLit : ghost);
    p.drawRect(QRectF(8, kDigitTop + kDigitH / 2 - 4, 22, 8));

    // Digits and points.
    static const LcdElement kPoints[3] = {LcdElement::LcdP0, LcdElement::LcdP1, LcdElement::LcdP2};
    for (int i = 0; i < 4; ++i) {
        DrawDigit(p, QRectF(kDigitLeft + i * kDigitPitch, kDigitTop, kDigitW, kDigitH), digits_[size_t(i)]);
        if (i < 3) {
            p.setPen(Qt::NoPen);
            p.setBrush(shown_.Has(kPoints[i]) ? kLit : ghost);
            p.drawRect(PointBox(i));
        }
    }

    // Annunciators.
    p.setPen(kLit);
    for (const AnnunciatorPlace& a : kPlaces) {
        if (!shown_.Has(a.element)) continue;
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(a.pixelSize);
        f.setBold(true);
        p.setFont(f);
        p.drawText(a.box, Qt::AlignLeft | Qt::AlignVCenter, SegmentText(Caption(a.element)));
    }
}
