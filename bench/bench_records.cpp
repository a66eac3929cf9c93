// Timings of the record table at scale (a plain timed tool, one run of each step):
//   1. append 10 000 000 readings through the gates (seconds, bytes per row)
//   2. save 1 000 000 rows as text, and dd writing the same number of bytes
//   3. Paradox copy of 1 000 000 rows, and pxlib writing the same records to a file
//   4. open of a 1 000 000-row Paradox file, and pxlib's plain read loop over it
//   5. recovery journal: cost per appended row, bytes per row, restore of 1 000 000 rows
//   6. peak memory of Open and of Save of a 10 000 000-row table against the rows held
//      (each in a child process of its own; VmHWM reset before the step)
// Usage: bench_records [FOLDER]   (scratch files go to FOLDER, default /tmp)
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/wait.h>

#include "records/datafiles.h"
#include "records/journal.h"
#include "records/recorder.h"
#include "records/recordtable.h"

#ifdef MS42K_HAVE_PXLIB
extern "C" {
#include <paradox.h>
}
#endif

namespace {
using Clock = std::chrono::steady_clock;
constexpr size_t kPxlibWriteRows = 1000000;
double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

long RssKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

off_t FileSize(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_size : 0;
}

long HwmKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

// Resets the peak to the current resident size.
void ResetHwm() {
    std::ofstream f("/proc/self/clear_refs");
    f << "5";
}

// Runs step in a child process and waits for it.
template <class F>
void InChild(F step) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        step();
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

void WriteEmptyTable(const std::string& path) {
    static const uint8_t kNoRow[64] = {};
    PxWriteOptions o;
    o.tableName = "Ms35fdb.DB";
    const auto bytes = WriteParadox(
        RecordTable::DefaultSchema(), 0, [](size_t) { return kNoRow; }, o);
    WriteFileAtomically(path, bytes.data(), bytes.size());
}

void Fill(RecordTable& t, size_t rows) {
    Recorder rec(t);
    rec.Options.RecordLimit = 10000000;
    Reading r;
    r.AcDcText = "DC";
    r.SymbolText = "m*";
    r.AutoText = "AUTO";
    const double now = NowDateTime();
    char value[16];
    for (size_t i = 0; i < rows; ++i) {
        std::snprintf(value, sizeof value, "%c%zu.%02zu", i % 3 ? ' ' : '-', i % 100, i % 97);
        r.ValueText = value;
        r.ValueNum = float(i % 10000);
        rec.Offer(r, now + double(i) / 86400.0);
    }
}
}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string dir = argc > 1 ? argv[1] : "/tmp";
    const std::string base = dir + "/bench_records_" + std::to_string(getpid());
    const std::string table = base + "_Ms35fdb.DB";
    WriteEmptyTable(table);

    // 1. Append 10 M readings.
    {
        RecordTable t;
        t.Open(table);
        const long rss0 = RssKb();
        const auto t0 = Clock::now();
        Fill(t, 10000000);
        const double s = Since(t0);
        const long rss1 = RssKb();
        std::printf(
            "append 10000000 rows through the gates: %.2f s (%.0f ns/row), %.1f bytes/row held, RSS +%.1f bytes/row\n",
            s, s * 1e9 / 1e7, double(t.BytesAllocated()) / 1e7, double(rss1 - rss0) * 1024.0 / 1e7);
    }

    RecordTable t;
    t.Open(table);
    Fill(t, 1000000);

    // 2. Text form of 1 M rows, and dd writing as many bytes.
    const std::string txt = base + ".txt";
    {
        const auto t0 = Clock::now();
        SaveTable(t, txt);
        const double s = Since(t0);
        const off_t bytes = FileSize(txt);
        std::printf("save 1000000 rows as text: %.3f s (%lld bytes)\n", s, (long long)bytes);
        const std::string dd =
            "dd if=/dev/zero of=" + base + ".dd bs=" + std::to_string(bytes) + " count=1 conv=fsync 2>/dev/null";
        const auto t1 = Clock::now();
        if (std::system(dd.c_str()) != 0) std::printf("dd failed\n");
        std::printf("dd writing the same %lld bytes (conv=fsync): %.3f s\n", (long long)bytes, Since(t1));
        std::remove((base + ".dd").c_str());
    }

    // 3. Paradox copy of 1 M rows.
    const std::string db = base + "_copy.db";
    {
        const auto t0 = Clock::now();
        SaveTable(t, db);
        const double s = Since(t0);
        std::printf("Paradox copy of 1000000 rows: %.3f s (%.2f us/row, %lld bytes)\n", s, s, (long long)FileSize(db));
    }
#ifdef MS42K_HAVE_PXLIB
    {
        pxdoc_t* doc = PX_new();
        const PxSchema& sc = t.Schema();
        auto* fields = static_cast<pxfield_t*>(doc->malloc(doc, sizeof(pxfield_t) * sc.fields.size(), "bench fields"));
        for (size_t i = 0; i < sc.fields.size(); ++i) {
            fields[i].px_fname = PX_strdup(doc, sc.fields[i].name.c_str());
            fields[i].px_ftype = char(sc.fields[i].type);
            fields[i].px_flen = sc.fields[i].size;
            fields[i].px_fdc = 0;
        }
        // A real file, open for reading as well: pxlib reads its blocks back while it writes
        // (a write-only memory stream damages the table and is several times slower).
        const std::string pxdb = base + "_pxlib.db";
        FILE* fp = std::fopen(pxdb.c_str(), "w+b");
        const auto t0 = Clock::now();
        if (PX_create_fp(doc, fields, int(sc.fields.size()), fp, pxfFileTypNonIndexDB) < 0) {
            std::printf("pxlib: cannot create the table\n");
        } else {
            std::vector<char> rec(sc.recordSize);
            for (size_t r = 0; r < kPxlibWriteRows; ++r) {
                std::copy(t.RowData(r), t.RowData(r) + sc.recordSize, rec.begin());
                PX_put_record(doc, rec.data());
            }
            PX_close(doc);
            std::fflush(fp);
            const double s = Since(t0);
            std::fclose(fp);
            fp = nullptr;
            // Read back: the file holds every record.
            pxdoc_t* check = PX_new();
            int back = -1;
            if (PX_open_file(check, pxdb.c_str()) == 0) {
                back = PX_get_num_records(check);
                PX_close(check);
            }
            PX_delete(check);
            std::printf(
                "pxlib writing the same %zu records to a file: %.3f s (%.2f us/record, %lld bytes, %d records read "
                "back)\n",
                kPxlibWriteRows, s, s * 1e6 / double(kPxlibWriteRows), (long long)FileSize(pxdb), back);
        }
        PX_delete(doc);
        if (fp) std::fclose(fp);
        std::remove(pxdb.c_str());
    }
#endif

    // 4. Open of the 1 M-row file.
    {
        RecordTable back;
        const auto t0 = Clock::now();
        back.Open(db);
        std::printf("open of the 1000000-row Paradox file: %.3f s (%zu rows)\n", Since(t0), back.RowCount());
    }
#ifdef MS42K_HAVE_PXLIB
    {
        const auto t0 = Clock::now();
        pxdoc_t* doc = PX_new();
        size_t n = 0;
        if (PX_open_file(doc, db.c_str()) == 0) {
            std::vector<char> rec(size_t(PX_get_recordsize(doc)));
            const int rows = PX_get_num_records(doc);
            for (int r = 0; r < rows; ++r)
                if (PX_get_record(doc, r, rec.data())) ++n;
            PX_close(doc);
        }
        PX_delete(doc);
        std::printf("pxlib plain read loop over the same file: %.3f s (%zu rows)\n", Since(t0), n);
    }
#endif
    // 5. The recovery journal.
    const std::string journal = base + ".journal";
    {
        RecordJournal j(journal);
        RecordRow row;
        row.DcAc = "DC";
        row.Unit = "m*";
        row.Auto = "AUTO";
        char value[16];
        const double now = NowDateTime();
        const auto t0 = Clock::now();
        for (int i = 0; i < 1000000; ++i) {
            std::snprintf(value, sizeof value, "%c%d.%02d", i % 3 ? ' ' : '-', i % 100, i % 97);
            row.Value = value;
            row.No = i + 1;
            row.Time = double(i % 86400) / 86400.0;
            row.Nval = float(i % 10000);
            j.Append(row, now);
        }
        j.Sync();
        const double s = Since(t0);
        std::printf(
            "journal: 1000000 rows appended (flushed each second or 64 KB, synced every %.0f s): %.3f s (%.0f ns/row), "
            "%.1f bytes/row\n",
            RecordJournal::kSyncSeconds, s, s * 1e3, double(FileSize(journal) - off_t(RecordJournal::kHeadSize)) / 1e6);
    }
    {
        const std::string other = base + "_restore.DB";
        WriteEmptyTable(other);
        RecordTable restored;
        restored.Open(other);
        std::remove(other.c_str());
        const auto t0 = Clock::now();
        RecordJournal::Read(journal, [&](const RecordRow& r) { restored.Append(r); });
        std::printf("journal: restore of 1000000 rows into the record table: %.3f s (%zu rows)\n", Since(t0),
                    restored.RowCount());
    }
    std::remove(journal.c_str());

    // 6. Peak memory of Open and Save against the rows held.
    t.Close();
    {
        RecordTable big;
        big.Open(table);
        Fill(big, 10000000);
        SaveTable(big, db);
    }
    InChild([&] {
        ResetHwm();
        const long before = HwmKb();
        RecordTable o;
        o.Open(db);
        const double rowsKb = double(o.BytesAllocated()) / 1024.0;
        const long peak = HwmKb() - before;
        std::printf("open of the 10000000-row file: peak +%ld KB for %.0f KB of rows (%.2fx)\n", peak, rowsKb,
                    double(peak) / rowsKb);
    });
    for (const std::string& out : {db + "2.db", txt}) {
        InChild([&] {
            RecordTable o;
            o.Open(db);
            const double rowsKb = double(o.BytesAllocated()) / 1024.0;
            ResetHwm();
            const long before = HwmKb();
            SaveTable(o, out);
            const long peak = HwmKb() - before;
            std::printf("save of the 10000000 rows as %s: peak +%ld KB over the %.0f KB of rows held (%.2fx in all)\n",
                        out.substr(out.size() - 3).c_str(), peak, rowsKb, (rowsKb + double(peak)) / rowsKb);
        });
        std::remove(out.c_str());
    }
    for (const auto& p : {table, txt, db}) std::remove(p.c_str());
    return 0;
}
