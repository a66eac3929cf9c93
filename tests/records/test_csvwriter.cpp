// The CSV form of the logger's rows: quoting, time stamps, unit texts and SI values.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QTimeZone>
#include <cstdlib>
#include <ctime>

#include "records/csvwriter.h"
#include "records/recordtable.h"

namespace {

TEST(CsvWriter, FieldsAreQuotedOnlyWhenTheyMustBe) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"1.234", "1.234"},
        {"", ""},
        {" 0.L", " 0.L"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\r\nlines", "\"two\r\nlines\""},
        {"line\nfeed", "\"line\nfeed\""},
    };
    for (const auto& c : cases) EXPECT_EQ(CsvField(c.in), c.out) << c.in;
}

TEST(CsvWriter, DecimalShiftIsExactAndKeepsTheDigits) {
    const struct {
        const char* text;
        int exponent;
        const char* out;
    } cases[] = {
        {"1.234", -3, "0.001234"},
        {"1.234", 3, "1234"},
        {"0.012", 3, "12"},
        {"-5.12", 0, "-5.12"},
        {"12.00", 6, "12000000"},
        {"250.0", -6, "0.0002500"},
        {"22.00", -9, "0.00000002200"},
        {"100", -3, "0.100"},
        {"230.0", 0, "230.0"},
        {" 1.5", 0, "1.5"},
        {"-0.000", -3, "0.000000"},
        {"+2", 3, "2000"},
        {"0.L", 0, ""},
        {" 0.L", 6, ""},
        {"0.@0", 0, ""},
        {"", 0, ""},
        {"-", 0, ""},
        {".", 0, ""},
        {"1.2.3", 0, ""},
        {"1e3", 0, ""},
        {"12 3", 0, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ShiftDecimal(c.text, c.exponent), c.out) << c.text << " " << c.exponent;
}

TEST(CsvWriter, SiValueAndUnitOfEveryModeAndPrefix) {
    const struct {
        const char* value;
        const char* symbol;  // as the decoder writes it
        const char* si;
        const char* unit;
    } cases[] = {
        {"1.498", " V", "1.498", "V"},
        {"1.234", "mV", "0.001234", "V"},
        {"1.500", "V", "1.500", "V"},
        {"12.45", "mA", "0.01245", "A"},
        {"1.203", " A", "1.203", "A"},
        {"250.0", "uA", "0.0002500", "A"},
        {"1.5", "+A", "0.0000015", "A"},  // the segment font's micro sign
        {"50.00", " Hz", "50.00", "Hz"},
        {"2.013", "kHz", "2013", "Hz"},
        {"49.8", "Duty", "49.8", "%"},
        {"22.00", "nF", "0.00000002200", "F"},
        {"2.200", "uF", "0.000002200", "F"},
        {"220.0", " *", "220.0", "\u03A9"},
        {"10.02", "k*", "10020", "\u03A9"},
        {"1.000", "M*", "1000000", "\u03A9"},
        {"0.5", " *&", "0.5", "\u03A9"},
        {"0.612", " V)", "0.612", "V"},
        {"-5.12", " V", "-5.12", "V"},
        {" 0.L", "M*", "", "\u03A9"},  // overload
        {"-0.L", " V", "", "V"},
        {"1.0", "xV", "", "V"},  // a prefix the meter does not have
        {"1.0", "", "", ""},     // no unit
        {"1.0", "m", "", ""},
        {"1.0", "kW", "", ""},
    };
    for (const auto& c : cases) {
        const SiReading r = SiOf(c.value, c.symbol);
        EXPECT_EQ(r.value, c.si) << c.value << " '" << c.symbol << "'";
        EXPECT_EQ(r.unit, c.unit) << c.value << " '" << c.symbol << "'";
    }
}

TEST(CsvWriter, UnitTextAsTheGridShowsItInUtf8) {
    const struct {
        const char* symbol;
        const char* shown;
    } cases[] = {
        {" *", "\u03A9"},        {"k*", "k\u03A9"}, {"+A", "\u00B5A"}, {" V)", "V\u25B6|"},
        {" *&", "\u03A9\u266B"}, {"mV", "mV"},      {"Duty", "Duty"},  {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(CsvUnitText(c.symbol), c.shown) << c.symbol;
}

// Sets the local time zone for one scope.
class LocalZone {
public:
    explicit LocalZone(const char* tz) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~LocalZone() {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

TEST(CsvWriter, LocalTimeWithMillisecondsAndTheUtcOffset) {
    // 2026-07-01 12:34:56.789 UTC, in zones east and west of Greenwich and with half hours.
    const qint64 ms = QDateTime(QDate(2026, 7, 1), QTime(12, 34, 56, 789), Qt::UTC).toMSecsSinceEpoch();
    const struct {
        const char* tz;
        const char* text;
    } cases[] = {
        {"UTC0", "2026-07-01T12:34:56.789+00:00"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", "2026-07-01T14:34:56.789+02:00"},
        {"IST-5:30", "2026-07-01T18:04:56.789+05:30"},
        {"NST3:30NDT,M3.2.0,M11.1.0", "2026-07-01T10:04:56.789-02:30"},
    };
    for (const auto& c : cases) {
        LocalZone zone(c.tz);
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms);
        EXPECT_EQ(IsoLocalTime(at), c.text) << c.tz;
        // The record table's time of the same moment is the same local time of day.
        EXPECT_EQ(TimeOfDayMs(LocalDateTime(at)), at.toLocalTime().time().msecsSinceStartOfDay()) << c.tz;
    }
}

TEST(CsvWriter, OneLineHasTheEightColumns) {
    LocalZone zone("UTC0");
    CsvRow row;
    row.at = QDateTime(QDate(2026, 12, 10), QTime(14, 5, 48, 7), Qt::UTC);
    row.no = "7";
    row.valueText = "1.234";
    row.symbolText = "mV";
    row.acDcText = "DC";
    row.autoText = "AUTO";
    EXPECT_EQ(CsvLine(row), "2026-12-10T14:05:48.007+00:00,7,1.234,mV,DC,AUTO,0.001234,V\r\n");
    row.valueText = " 0.L";
    row.symbolText = "M*";
    row.acDcText = "";
    row.autoText = "";
    EXPECT_EQ(CsvLine(row), "2026-12-10T14:05:48.007+00:00,7, 0.L,M\u03A9,,,,\u03A9\r\n");
    EXPECT_STREQ(kCsvHeader, "datetime,no,value,unit,dc_ac,auto,si_value,si_unit");
}

}  // namespace
