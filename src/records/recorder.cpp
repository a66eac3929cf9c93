#include "records/recorder.h"

#include <cmath>

#include "meter/convert.h"

int32_t SampleSecondsFromText(const std::string& text) {
    if (text.empty() || text == "-" || text == "+") return 0;
    return StrToInt(text);
}

RecordRow RowFromReading(const Reading& reading, double time, int32_t no) {
    RecordRow row;
    row.Value = reading.ValueText;
    row.Nval = reading.ValueNum;
    row.Time = time;
    row.No = no;
    row.DcAc = reading.AcDcText;
    row.Unit = reading.SymbolText;
    row.Auto = reading.AutoText;
    return row;
}

GateResult OfferReading(RecordTable& table, const Reading& reading, const RecordOptions& options, RecordCounters c,
                        double now, RecordRow* appended) {
    // 1. Limit: at most RecordLimit rows between two resets of the count.
    if (c.RecordsAppended >= options.RecordLimit) return GateResult::LimitReached;
    // 2. Sampling interval.
    if (options.SamplingOn && c.SampleCountdown != 0) return GateResult::Sampling;
    // 3. Repeat suppression: the dropped reading uses up its number.
    std::string key = reading.ValueText + reading.AcDcText + reading.SymbolText + reading.AutoText;
    if (options.RepeatSuppression && key == c.LastReadingKey) {
        ++c.RecordNo;
        return GateResult::Repeated;
    }
    // 4.
    c.LastReadingKey = std::move(key);
    // 5. Reload the countdown (whether sampling is on or not).
    c.SampleCountdown = SampleSecondsFromText(options.SamplingText);
    // 7.-9. (the count of step 6 is raised below, once the row is in the table: a reading
    // that could not be stored must not use up the limit)
    RecordRow row = RowFromReading(reading, options.RecallOn ? c.RecallStamp : now - std::trunc(now), c.RecordNo);
    table.Append(row);
    // 6.
    ++c.RecordsAppended;
    // 10.
    ++c.RecordNo;
    if (appended) *appended = std::move(row);
    return GateResult::Appended;
}

void SamplingTick(const RecordOptions& options, int32_t& sampleCountdown) {
    if (options.SamplingOn && sampleCountdown > 0) --sampleCountdown;
}

double StepRecallStamp(int32_t& hour, int32_t& minute, int32_t& second, int32_t interval) {
    second += interval;
    while (second > 59) {
        second -= 60;
        minute += 1;
        if (minute > 59) {
            minute -= 60;
            hour += 1;
            if (hour > 23) hour = 0;
        }
    }
    return EncodeTime(hour, minute, second);
}

void AppendStampedRow(RecordTable& table, const Reading& reading, double stamp, int32_t& recordNo,
                      RecordRow* appended) {
    RecordRow row = RowFromReading(reading, stamp, recordNo);
    table.Append(row);
    ++recordNo;
    if (appended) *appended = std::move(row);
}
