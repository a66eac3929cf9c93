#pragma once
// The meter's segment-font codes and the symbols they stand for. The LCD panel, the grid's
// unit column, the limits panel and the printed report all show unit texts through this one
// mapping: "@" the LCD letter L, "*" ohm, "+" micro, ")" diode, "&" continuity beeper.
#include <QString>
#include <string>

// The symbol drawn for one segment-font code; other characters stand for themselves.
QString SegmentSymbol(char code);

// A whole 8-bit text (e.g. "+*&" or "kV") as the meter shows it ("µΩ♫", "kV").
QString SegmentText(const std::string& text);
