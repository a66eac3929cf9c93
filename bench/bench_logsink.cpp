// Timings of the logger's output (a plain timed tool, one run of each step):
//   1. the CSV line of 1 000 000 rows (formatting only)
//   2. 200 000 rows streamed to a file, one write and one check each (LogLineWriter)
//   3. the db form's rewrite (Paradox copy + atomic write) of a table of 100 000 and of
//      432 000 rows (a day at the simulator's 5 rows a second)
// Usage: bench_logsink [FOLDER]   (scratch files go to FOLDER, default /tmp)
#include <chrono>
#include <cstdio>
#include <string>

#include "app/logsink.h"
#include "records/csvwriter.h"
#include "records/datafiles.h"
#include "records/recorder.h"
#include "records/recordtable.h"

namespace {
using Clock = std::chrono::steady_clock;
double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

void OpenEmpty(RecordTable& t, const std::string& path) {
    static const uint8_t kNoRow[64] = {};
    PxWriteOptions o;
    o.tableName = "Ms35fdb.DB";
    const auto bytes = WriteParadox(
        RecordTable::DefaultSchema(), 0, [](size_t) { return kNoRow; }, o);
    WriteFileAtomically(path, bytes.data(), bytes.size());
    t.Open(path);
}

void Fill(RecordTable& t, size_t rows) {
    Recorder rec(t);
    rec.Options.RecordLimit = INT32_MAX;
    Reading r;
    r.AcDcText = "DC";
    r.SymbolText = "mV";
    r.AutoText = "AUTO";
    const double now = NowDateTime();
    for (size_t i = 0; i < rows; ++i) {
        r.ValueText = std::to_string(100 + int(i % 900)) + ".5";
        rec.Offer(r, now);
    }
}
}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "/tmp";

    {
        CsvRow row;
        row.at = QDateTime::currentDateTime();
        row.valueText = "1.234";
        row.symbolText = "mV";
        row.acDcText = "DC";
        row.autoText = "AUTO";
        const size_t n = 1000000;
        size_t bytes = 0;
        const auto t0 = Clock::now();
        for (size_t i = 0; i < n; ++i) {
            row.no = std::to_string(i + 1);
            bytes += CsvLine(row).size();
        }
        const double s = Since(t0);
        std::printf("csv line:        %zu rows in %.3f s, %.2f us a row (%zu bytes)\n", n, s, s * 1e6 / double(n),
                    bytes);
    }
    {
        const std::string path = folder + "/bench_logsink.csv";
        LogLineWriter w(path, std::string(kCsvHeader) + "\r\n",
                        [](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); });
        std::string why;
        if (!w.Open(why)) {
            std::fprintf(stderr, "%s\n", why.c_str());
            return 1;
        }
        const size_t n = 200000;
        const std::string line = "2026-12-10T14:05:48.123+01:00,1,1.234,mV,DC,AUTO,0.001234,V\r\n";
        const auto t0 = Clock::now();
        for (size_t i = 0; i < n; ++i) w.AddRow(line);
        const double s = Since(t0);
        std::printf("streamed rows:   %zu rows in %.3f s, %.2f us a row\n", n, s, s * 1e6 / double(n));
        w.Finish();
        std::remove(path.c_str());
    }
    for (size_t rows : {size_t(100000), size_t(432000)}) {
        RecordTable t;
        OpenEmpty(t, folder + "/bench_logsink_src.DB");
        Fill(t, rows);
        const std::string path = folder + "/bench_logsink.db";
        const auto t0 = Clock::now();
        std::vector<std::string> notes;
        const auto bytes = ParadoxCopy(t, "bench_logsink.db", &notes);
        WriteFileAtomically(path, bytes.data(), bytes.size());
        const double s = Since(t0);
        std::printf("db rewrite:      %zu rows, %zu bytes in %.1f ms\n", rows, bytes.size(), s * 1e3);
        std::remove(path.c_str());
        t.Close();
        std::remove((folder + "/bench_logsink_src.DB").c_str());
    }
    return 0;
}
