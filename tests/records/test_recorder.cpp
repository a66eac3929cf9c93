// The append gates (limit, sampling interval, repeat suppression), the recall stamp and the
// rows they write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "meter/convert.h"
#include "records/recorder.h"
#include "records_fixture.h"

namespace {

class Gates : public ::testing::Test {
public:
    void SetUp() override {
        table.Open(scratch.Copy("paradox/Ms35fdb.DB", "Ms35fdb.DB"));
        ASSERT_TRUE(table.IsOpen());
    }
    static Reading Value(const std::string& v, const std::string& acdc = "DC", const std::string& unit = " V",
                         const std::string& autoText = "") {
        Reading r;
        r.ValueText = v;
        r.AcDcText = acdc;
        r.SymbolText = unit;
        r.AutoText = autoText;
        r.ValueNum = 1.0f;
        return r;
    }

protected:
    std::vector<int> Numbers() const {
        std::vector<int> out;
        for (size_t r = 0; r < table.RowCount(); ++r) out.push_back(std::stoi(table.CellText(r, ColNo)));
        return out;
    }
    ScratchFolder scratch;
    RecordTable table;
    Recorder rec{table};
};

// Script of events: 'r' a new (different) reading, 'a' / 'b' fixed readings, 't' one tick
// of the sampling timer, 'S' sampling switched on, 's' switched off, 'N' New (counters
// reset), 'L' / 'H' limit lowered to 2 / raised to 1000.
void RunScript(Recorder& rec, RecordTable& table, const std::string& script) {
    int k = 0;
    for (char c : script) {
        switch (c) {
            case 'r': rec.Offer(Gates::Value("r" + std::to_string(k++))); break;
            case 'a': rec.Offer(Gates::Value("01.00")); break;
            case 'b': rec.Offer(Gates::Value("02.00")); break;
            case 't': rec.Tick(); break;
            case 'S': rec.Options.SamplingOn = true; break;
            case 's': rec.Options.SamplingOn = false; break;
            case 'N':
                table.Empty();
                rec.Reset();
                break;
            case 'L': rec.Options.RecordLimit = 2; break;
            case 'H': rec.Options.RecordLimit = 1000; break;
        }
    }
}

struct ScriptCase {
    const char* name;
    bool sampling;
    const char* seconds;
    bool repeat;
    const char* script;
    std::vector<int> numbers;  // No of the rows in the table at the end
    int appended;              // RecordsAppended at the end
    int nextNo;                // RecordNo at the end
};

const ScriptCase kScripts[] = {
    // Sampling interval.
    {"sampling off records every reading", false, "10", false, "rrr", {1, 2, 3}, 3, 4},
    {"first reading passes, the next wait for the countdown", true, "3", false, "rrtrtrtrr", {1, 2}, 2, 3},
    {"ten seconds: nine ticks are not enough", true, "10", false, "rtttttttttrtr", {1, 2}, 2, 3},
    {"interval 0 records every reading", true, "0", false, "rrrr", {1, 2, 3, 4}, 4, 5},
    {"empty interval counts as 0", true, "", false, "rrr", {1, 2, 3}, 3, 4},
    {"a lone minus counts as 0", true, "-", false, "rr", {1, 2}, 2, 3},
    {"a lone plus counts as 0", true, "+", false, "rr", {1, 2}, 2, 3},
    {"switching sampling on later uses the last reload", false, "2", false, "rrSrtrtr", {1, 2, 3}, 3, 4},
    {"ticks do not count while sampling is off", false, "2", false, "rttSrtr", {1}, 1, 2},
    // Repeat suppression.
    {"a run of k equal readings is one row, the next gets n+k", false, "10", true, "aaab", {1, 4}, 2, 5},
    {"repeat off keeps equal readings", false, "10", false, "aa", {1, 2}, 2, 3},
    {"alternating readings all pass", false, "10", true, "abab", {1, 2, 3, 4}, 4, 5},
    {"after New the reading equal to the last one is dropped", false, "10", true, "abNba", {2}, 1, 3},
    // Limit (at most RecordLimit rows) and its changes.
    {"lowering the limit below the count stops at once", false, "10", false, "rrrLrr", {1, 2, 3}, 3, 4},
    {"raising it again resumes without a gap", false, "10", false, "rrrLrrHr", {1, 2, 3, 4}, 4, 5},
    {"New reopens the limit gate",
     false,
     "10",
     false,
     "Lrrr"
     "N"
     "rrr",
     {1, 2},
     2,
     3},
    // Sampling and repeat together: a dropped repeat does not reload the countdown.
    {"repeat gate after the sampling gate", true, "1", true, "ataatb", {1, 4}, 2, 5},
};

}  // namespace

TEST_F(Gates, Scripts) {
    for (const auto& c : kScripts) {
        SCOPED_TRACE(c.name);
        table.Empty();
        rec = Recorder(table);
        rec.Options.SamplingOn = c.sampling;
        rec.Options.SamplingText = c.seconds;
        rec.Options.RepeatSuppression = c.repeat;
        RunScript(rec, table, c.script);
        EXPECT_EQ(Numbers(), c.numbers);
        EXPECT_EQ(rec.RecordsAppended, c.appended);
        EXPECT_EQ(rec.RecordNo, c.nextNo);
    }
}

TEST_F(Gates, LimitAppendsAtMostTheLimit) {
    struct Case {
        int32_t limit;
        int offered;
        size_t rows;
    };
    const Case cases[] = {{1000, 1002, 1000}, {5, 5, 5}, {1, 3, 1}, {0, 2, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        table.Empty();
        rec = Recorder(table);
        rec.Options.RecordLimit = c.limit;
        int dropped = 0;
        for (int i = 0; i < c.offered; ++i)
            if (rec.Offer(Value(std::to_string(i))) == GateResult::LimitReached) ++dropped;
        EXPECT_EQ(table.RowCount(), c.rows);
        EXPECT_EQ(size_t(rec.RecordsAppended), c.rows);
        EXPECT_EQ(size_t(dropped), size_t(c.offered) - c.rows);
        EXPECT_EQ(size_t(rec.RecordNo), c.rows + 1);  // readings stopped by the limit keep their number
    }
}

TEST_F(Gates, ReadingsThatDifferInOneFlagAreDifferent) {
    rec.Options.RepeatSuppression = true;
    const Reading readings[] = {Value("1.000", "DC", "V", ""), Value("1.000", "DC", "V", "AUTO"),
                                Value("1.000", "AC", "V", "AUTO"), Value("1.000", "AC", "mV", "AUTO"),
                                Value("1.000", "AC", "mV", "AUTO")};
    for (const auto& r : readings) rec.Offer(r);
    EXPECT_EQ(Numbers(), (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(Gates, TheRowCarriesTheReading) {
    struct Case {
        bool recall;
        Reading reading;
        std::vector<std::string> cells;  // No, Time, DC/AC, Value, Unit, AUTO
        double nval;
    };
    Reading overload = Value("-0.0L", "", "M*", "AUTO");
    overload.ValueNum = -60.0f;
    Reading plain = Value("00.66", "DC", " V", "");
    plain.ValueNum = 66.0f;
    const Case cases[] = {
        {true, plain, {"1", "23:59:59", "DC", "00.66", " V", ""}, 66.0},
        {true, overload, {"2", "23:59:59", "", "-0.0L", "M*", "AUTO"}, -60.0},
        {false, plain, {"3", "13:14:15", "DC", "00.66", " V", ""}, 66.0},
    };
    rec.RecallStamp = 46000.0 + EncodeTime(23, 59, 59);  // a date-time; the time field keeps the time of day
    const double now = 46001.0 + EncodeTime(13, 14, 15, 400);
    size_t row = 0;
    for (const auto& c : cases) {
        rec.Options.RecallOn = c.recall;
        ASSERT_EQ(rec.Offer(c.reading, now), GateResult::Appended);
        for (int col = 0; col < kRecordColumns; ++col)
            EXPECT_EQ(table.CellText(row, col), c.cells[size_t(col)]) << row << "/" << col;
        EXPECT_EQ(table.FieldText(row, size_t(table.Schema().Find("Nval"))), std::to_string(int(c.nval)));
        ++row;
    }
}

// Conversion errors of the sampling interval: the key is already remembered, nothing is
// appended or counted.
TEST_F(Gates, ConversionErrorOfTheIntervalStopsBeforeTheRow) {
    const char* texts[] = {"abc", "99999999999", "1 2", "--1"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        rec.Options.SamplingText = text;
        rec.LastReadingKey.clear();
        const int appended = rec.RecordsAppended;
        try {
            rec.Offer(Value("7.777"));
            ADD_FAILURE() << "no conversion error";
        } catch (const ConvertError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("'") + text + "' is not a valid integer value");
        }
        EXPECT_EQ(rec.LastReadingKey, "7.777DC V");
        EXPECT_EQ(rec.RecordsAppended, appended);
        EXPECT_EQ(table.RowCount(), 0u);
    }
}

// A reading the closed table could not take is not counted: after more than "limit" such
// readings, a table that opens again still records.
TEST_F(Gates, ClosedTableRefusesTheRowWithoutCountingIt) {
    const std::string path = table.FileName();
    table.Close();
    rec.Options.RecordLimit = 5;
    for (int i = 0; i < 8; ++i) {
        try {
            rec.Offer(Value(std::to_string(i)));
            ADD_FAILURE() << "no error";
        } catch (const TableError& e) {
            EXPECT_NE(std::string(e.what()).find("not open"), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(rec.RecordsAppended, 0);
    EXPECT_EQ(rec.RecordNo, 1);
    table.Open(path);
    EXPECT_EQ(rec.Offer(Value("9")), GateResult::Appended);
    EXPECT_EQ(table.RowCount(), 1u);
    EXPECT_EQ(table.CellText(0, ColNo), "1");
}

TEST(RecallStamp, StepsCarryAndWrap) {
    struct Case {
        int h, m, s, interval;
        int eh, em, es;
        const char* text;
    };
    const Case cases[] = {
        {23, 59, 59, 1, 0, 0, 0, "00:00:00"},     {0, 0, 0, 7200, 2, 0, 0, "02:00:00"},
        {12, 30, 30, 0, 12, 30, 30, "12:30:30"},  {23, 59, 0, 120, 0, 1, 0, "00:01:00"},
        {10, 59, 59, 3601, 12, 0, 0, "12:00:00"}, {0, 0, 0, 59, 0, 0, 59, "00:00:59"},
        {22, 0, 0, 86400, 22, 0, 0, "22:00:00"},
    };
    PxSchema s;
    s.Add("Time", PxType::Time, 4);
    std::vector<uint8_t> rec(s.recordSize);
    for (const auto& c : cases) {
        int32_t h = c.h, m = c.m, sec = c.s;
        const double stamp = StepRecallStamp(h, m, sec, c.interval);
        EXPECT_EQ(h, c.eh);
        EXPECT_EQ(m, c.em);
        EXPECT_EQ(sec, c.es);
        PxSetInt(s.fields[0], rec.data(), TimeOfDayMs(stamp));
        EXPECT_EQ(PxFieldText(s.fields[0], rec.data()), c.text);
    }
}

TEST_F(Gates, RecallRowsSkipTheGatesAndRepeatTheStampWithIntervalZero) {
    rec.Options.RecordLimit = 0;  // the recall step applies no gate
    int32_t h = 23, m = 59, s = 59;
    for (int interval : {1, 0, 0}) {
        const double stamp = StepRecallStamp(h, m, s, interval);
        AppendStampedRow(table, Value("5"), stamp, rec.RecordNo);
    }
    ASSERT_EQ(table.RowCount(), 3u);
    for (size_t r = 0; r < 3; ++r) {
        EXPECT_EQ(table.CellText(r, ColTime), "00:00:00");
        EXPECT_EQ(table.CellText(r, ColNo), std::to_string(r + 1));
    }
    EXPECT_EQ(rec.RecordsAppended, 0);
}

TEST(SamplingText, Conversions) {
    struct Case {
        const char* text;
        int32_t seconds;
    };
    const Case ok[] = {{"", 0}, {"-", 0}, {"+", 0}, {"10", 10}, {"0", 0}, {"007", 7}, {"2147483647", 2147483647}};
    for (const auto& c : ok) EXPECT_EQ(SampleSecondsFromText(c.text), c.seconds) << c.text;
    for (const char* bad : {"x", "2147483648", "1.5", "- "})
        EXPECT_THROW(SampleSecondsFromText(bad), ConvertError) << bad;
}
