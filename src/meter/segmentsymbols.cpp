#include "meter/segmentsymbols.h"

QString SegmentSymbol(char code) {
    switch (code) {
        case '@': return QStringLiteral("L");
        case '*': return QString(QChar(0x03A9));                           // Ω
        case '+': return QString(QChar(0x00B5));                           // µ
        case ')': return QString(QChar(0x25B6)) + QLatin1Char('|');        // ▶| diode
        case '&': return QString(QChar(0x266B));                           // ♫ continuity beeper
        default: return QString(QChar(static_cast<unsigned char>(code)));  // 8-bit text as Latin-1
    }
}

QString SegmentText(const std::string& text) {
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    for (char c : text) out += SegmentSymbol(c);
    return out;
}
