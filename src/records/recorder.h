#pragma once
// The append gates of recording, without any widget: the window's INDataToTable and the
// headless logger both pass every decoded reading through OfferReading.
//
//   1. limit gate     at most RecordLimit rows between two resets of RecordsAppended
//   2. sampling gate  while sampling is on, nothing until SampleCountdown is back at 0
//   3. repeat gate    with repeat suppression, a reading equal to the last appended one is
//                     dropped but uses up its number
// then the key is remembered, the countdown reloaded from the sampling text, the count
// raised, the row appended and RecordNo advanced.
#include <cstdint>
#include <string>

#include "records/recordtable.h"

// The decoded reading, as the decoder hands it over.
struct Reading {
    std::string ValueText;
    std::string AcDcText;
    std::string SymbolText;
    std::string AutoText;
    float ValueNum = 0.0f;
};

// The reading of anything that holds the decoder's five reading fields by their names (the
// decode result, the window's shared state).
template <class Decoded>
Reading ReadingFrom(const Decoded& d) {
    Reading r;
    r.ValueText = d.ValueText;
    r.AcDcText = d.AcDcText;
    r.SymbolText = d.SymbolText;
    r.AutoText = d.AutoText;
    r.ValueNum = d.ValueNum;
    return r;
}

// The table row of a reading: Value, Nval, DcAc, Unit and Auto from it, Time and No given.
RecordRow RowFromReading(const Reading& reading, double time, int32_t no);

// The recording options as the controls hold them.
struct RecordOptions {
    int32_t RecordLimit = 10000;
    bool SamplingOn = false;          // RecordSI checked
    std::string SamplingText = "10";  // text of RecordSITime (seconds)
    bool RepeatSuppression = false;   // RepeatSet checked
    bool RecallOn = false;            // RecallCheck checked: rows carry RecallStamp
};

// The counters, referring to wherever the caller keeps them (the window's shared state, or
// a Recorder).
struct RecordCounters {
    int32_t& RecordNo;
    int32_t& RecordsAppended;
    int32_t& SampleCountdown;
    std::string& LastReadingKey;
    double& RecallStamp;
};

enum class GateResult { Appended, LimitReached, Sampling, Repeated };

// The sampling interval of a text: "-", "+" and empty count as 0, anything else is converted
// as a decimal integer (ConvertError "'%s' is not a valid integer value" when it is none).
int32_t SampleSecondsFromText(const std::string& text);

// Runs the gates and appends the row when the reading passes. now: the current local
// date-time (the row's time unless recall is on). Errors (conversion, closed table) leave
// the counters as far as the steps before them went; RecordsAppended and RecordNo are raised
// only for a row that is in the table. appended, when given, receives the row appended.
GateResult OfferReading(RecordTable& table, const Reading& reading, const RecordOptions& options,
                        RecordCounters counters, double now, RecordRow* appended = nullptr);

// One second of the sampling timer.
void SamplingTick(const RecordOptions& options, int32_t& sampleCountdown);

// The recall step's stamp: second += interval, carried into minutes and hours, hours wrapping
// from 23 to 0; the result is the time of day h:m:s.
double StepRecallStamp(int32_t& hour, int32_t& minute, int32_t& second, int32_t interval);

// Appends one row with time := stamp and No := recordNo (no gate), then recordNo += 1.
void AppendStampedRow(RecordTable& table, const Reading& reading, double stamp, int32_t& recordNo,
                      RecordRow* appended = nullptr);

// A recorder that owns its counters: the headless logger's way to record.
class Recorder {
public:
    explicit Recorder(RecordTable& table) : table_(&table) {}
    RecordOptions Options;
    int32_t RecordNo = 1;
    int32_t RecordsAppended = 0;
    int32_t SampleCountdown = 0;
    std::string LastReadingKey;
    double RecallStamp = NowDateTime();

    GateResult Offer(const Reading& reading, double now = NowDateTime()) {
        return OfferReading(*table_, reading, Options, Counters(), now);
    }
    void Tick() { SamplingTick(Options, SampleCountdown); }
    // New: numbering and count start again (the key and the countdown stay).
    void Reset() {
        RecordNo = 1;
        RecordsAppended = 0;
    }
    RecordCounters Counters() { return {RecordNo, RecordsAppended, SampleCountdown, LastReadingKey, RecallStamp}; }

private:
    RecordTable* table_;
};
