#include "records/csvwriter.h"

#include <cstdio>
#include <cstdlib>

#include "meter/segmentsymbols.h"

const char* const kCsvHeader = "datetime,no,value,unit,dc_ac,auto,si_value,si_unit";

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string IsoLocalTime(const QDateTime& at) {
    const QDateTime local = at.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return local.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz")).toStdString() + zone;
}

double LocalDateTime(const QDateTime& at) {
    const qint64 localMs = at.toMSecsSinceEpoch() + qint64(at.toLocalTime().offsetFromUtc()) * 1000;
    return 25569.0 + double(localMs) / 86400000.0;
}

std::string CsvUnitText(const std::string& symbolText) { return SegmentText(symbolText).trimmed().toStdString(); }

std::string ShiftDecimal(const std::string& text, int exponent) {
    size_t i = 0, n = text.size();
    while (i < n && text[i] == ' ') ++i;
    while (n > i && text[n - 1] == ' ') --n;
    bool negative = false;
    if (i < n && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::string digits;
    long point = -1;  // digits before the point
    for (; i < n; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits += c;
        } else if (c == '.' && point < 0) {
            point = long(digits.size());
        } else {
            return {};
        }
    }
    if (digits.empty()) return {};
    if (point < 0) point = long(digits.size());
    point += exponent;
    // Zeros in front or behind so that the point falls inside the digits.
    if (point < 1) {
        digits.insert(0, size_t(1 - point), '0');
        point = 1;
    }
    if (point > long(digits.size())) digits.append(size_t(point - long(digits.size())), '0');
    std::string whole = digits.substr(0, size_t(point));
    const std::string fraction = digits.substr(size_t(point));
    const size_t first = whole.find_first_not_of('0');
    whole = first == std::string::npos ? "0" : whole.substr(first);
    const bool zero = digits.find_first_not_of('0') == std::string::npos;
    std::string out = negative && !zero ? "-" : "";
    out += whole;
    if (!fraction.empty()) out += "." + fraction;
    return out;
}

SiReading SiOf(const std::string& valueText, const std::string& symbolText) {
    // The base units after the prefix place, as the decoder writes them.
    struct Unit {
        const char* code;
        const char* si;
    };
    static const Unit kUnits[] = {
        {"V", "V"}, {"V)", "V"}, {"A", "A"}, {"Hz", "Hz"}, {"F", "F"}, {"*", "\u03A9"}, {"*&", "\u03A9"}, {"Duty", "%"},
    };
    std::string code = symbolText;
    while (!code.empty() && code.back() == ' ') code.pop_back();
    int exponent = 0;
    bool prefixKnown = true;
    const Unit* unit = nullptr;
    for (const Unit& u : kUnits)
        if (code == u.code) unit = &u;
    if (!unit && code.size() > 1) {
        const std::string rest = code.substr(1);
        for (const Unit& u : kUnits)
            if (rest == u.code) unit = &u;
        switch (code[0]) {
            case ' ': exponent = 0; break;
            case 'm': exponent = -3; break;
            case 'u':
            case '+': exponent = -6; break;  // '+' is the segment font's micro sign
            case 'n': exponent = -9; break;
            case 'k': exponent = 3; break;
            case 'M': exponent = 6; break;
            default: prefixKnown = false; break;
        }
    }
    SiReading out;
    if (!unit) return out;
    out.unit = unit->si;
    if (prefixKnown) out.value = ShiftDecimal(valueText, exponent);
    return out;
}

std::string CsvLine(const CsvRow& row) {
    const SiReading si = SiOf(row.valueText, row.symbolText);
    std::string line;
    line += CsvField(IsoLocalTime(row.at)) + ',';
    line += CsvField(row.no) + ',';
    line += CsvField(row.valueText) + ',';
    line += CsvField(CsvUnitText(row.symbolText)) + ',';
    line += CsvField(row.acDcText) + ',';
    line += CsvField(row.autoText) + ',';
    line += CsvField(si.value) + ',';
    line += CsvField(si.unit);
    line += "\r\n";
    return line;
}
