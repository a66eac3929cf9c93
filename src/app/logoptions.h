#pragma once
// The options of `ms42k log` and what the logger makes of them.
#include <cstdint>
#include <optional>
#include <string>

#include "app/cli.h"

// What the logger writes: the text form of Save, CSV, or a Paradox table.
enum class LogFormat { Text, Csv, Db };

struct LogOptions {
    bool simulate = false;
    std::string framesFile;
    std::optional<int64_t> count;
    // Record limit of the gate. Without --limit the logger records without a limit (the
    // window's 10000 does not apply to it).
    int32_t limit = INT32_MAX;
    bool limitGiven = false;
    std::optional<int32_t> interval;
    bool repeat = false;
    std::optional<double> timeSeconds;
    LogFormat format = LogFormat::Text;
    std::string out;
};

// The format an --out name gives: ".csv" csv, ".db" db (either in any letter case), any other
// name text.
LogFormat LogFormatFor(const std::string& out);

// The synopsis of `ms42k log`.
extern const char* const kLogSynopsis;

// Parses the arguments of `ms42k log`. Returns -1 when the run can go on with `o`; otherwise
// the exit status (0 after --help; 2 for a usage error, the reason printed).
int ParseLogArgs(const CliArgs& args, LogOptions& o);
