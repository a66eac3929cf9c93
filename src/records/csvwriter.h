#pragma once
// The CSV form of recorded rows (RFC 4180: comma-separated, CR LF after every line, a field
// quoted when it holds a comma, a quote or a line break), UTF-8 without a byte-order mark:
//
//   datetime,no,value,unit,dc_ac,auto,si_value,si_unit
//   2026-12-10T14:05:48.123+01:00,1,1.234,mV,DC,AUTO,0.001234,V
//
// datetime is the local time of the row with milliseconds and the UTC offset; no, value, dc_ac
// and auto are the row's texts as the text form has them; unit is the unit text with the
// meter's symbols as the grid shows them (Ω, µ, ...); si_value is the reading in the base unit
// with the prefix applied, si_unit that base unit (V, A, Hz, F, Ω, or % for Duty).
#include <QDateTime>
#include <string>

// The header line (without its CR LF).
extern const char* const kCsvHeader;

// One field as RFC 4180 writes it.
std::string CsvField(const std::string& text);

// ISO 8601 local time with milliseconds and the UTC offset ("2026-12-10T14:05:48.123+01:00").
std::string IsoLocalTime(const QDateTime& at);

// The date-time of the record table (floating days since 1899-12-30, local time) of a moment.
double LocalDateTime(const QDateTime& at);

// The unit text of the segment-font code SymbolText as the grid shows it, in UTF-8, without the
// blank of an empty prefix place (" *" gives "Ω", "k*" "kΩ").
std::string CsvUnitText(const std::string& symbolText);

// The reading in its base unit. value: the decimal text with the prefix applied, empty for an
// overload or a text that is no number (or a prefix that is not known); unit: V, A, Hz, F, Ω, %
// (UTF-8), empty when the unit text names none of them.
struct SiReading {
    std::string value;
    std::string unit;
};
SiReading SiOf(const std::string& valueText, const std::string& symbolText);

// A decimal number text moved by `exponent` places (1.234 and -3 give 0.001234), exactly, with
// its digits kept; empty when the text is not a plain decimal number (sign, digits, one point).
std::string ShiftDecimal(const std::string& text, int exponent);

// One recorded row of the CSV form.
struct CsvRow {
    QDateTime at;
    std::string no;
    std::string valueText;
    std::string symbolText;  // segment-font code, as the record table holds it
    std::string acDcText;
    std::string autoText;
};
// The row's line, CR LF included.
std::string CsvLine(const CsvRow& row);
