#pragma once
// The output side of `ms42k log`: every recorded row goes out as it is recorded.
//
//   text, csv  each row is written (one write call) and checked as it is recorded, to the --out
//              file or to standard output; a kill loses at most the row being written.
//   db         the Paradox table is rewritten atomically (temporary file and rename) every
//              10 s while rows come in, and at the end; a kill loses at most the last 10 s.
//
// A write that fails (disk full, file or folder removed) is reported at once with its reason;
// the rows not written are kept and retried with every new row and every second. Rows still
// unwritten at the end go to a fallback file whose name is printed, and the run's status is 1.
#include <QDateTime>
#include <QElapsedTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "app/logoptions.h"

class RecordTable;

// Says one message of the logger (to standard error, on a line of its own).
using LogSay = std::function<void(const std::string&)>;

// The text form's line of one row of the table (CR LF included).
std::string TextRowLine(const RecordTable& table, size_t row);

// Where the rows that could not be written to `out` go: the first folder of `folders` in
// which a new file can be written; the name is `out`'s with ".unwritten-<stamp>" before its
// extension. Returns the file written, or empty (with the reasons in `why`).
std::string WriteFallback(const std::string& out, const std::string& bytes, const std::vector<std::string>& folders,
                          std::string& why);
// The fallback folders: out's own folder, the temporary folder, the home folder, the current one.
std::vector<std::string> FallbackFolders(const std::string& out);

// A stream of lines to a file or to standard output that keeps the lines it could not write.
class LogLineWriter {
public:
    // path empty: standard output.
    LogLineWriter(std::string path, std::string header, LogSay say);
    ~LogLineWriter();
    LogLineWriter(const LogLineWriter&) = delete;
    LogLineWriter& operator=(const LogLineWriter&) = delete;

    // Creates (or truncates) the file and writes the header; false with the reason when the
    // file cannot be created.
    bool Open(std::string& why);
    // Adds one row's line and writes everything pending.
    void AddRow(std::string line);
    // Writes what is pending (a retry).
    void Retry();

    size_t PendingRows() const;
    uint64_t RowsWritten() const { return rowsWritten_; }
    bool Failing() const { return !failure_.empty(); }
    // Standard output was closed by its reader (a pipe into head): nothing more can go there.
    bool ReaderGone() const { return readerGone_; }

    // The end of the run: a last retry, then rows still unwritten go to a fallback file (a
    // line written in part is cut off the file first). Returns the number of rows that went
    // to the fallback (or, when no fallback could be written, to standard error).
    size_t Finish();

private:
    struct Line {
        std::string text;
        size_t written = 0;
        bool header = false;
    };
    void WritePending();
    void Fail(const std::string& why);
    std::string Reopen();

    std::string path_;
    std::string header_;
    LogSay say_;
    int fd_ = -1;
    bool regular_ = false;
    off_t committed_ = 0;  // end of the last complete line in the file
    std::deque<Line> pending_;
    uint64_t rowsWritten_ = 0;
    std::string failure_;
    bool readerGone_ = false;
};

// Sends each recorded row to its form and place.
class LogSink {
public:
    LogSink(const LogOptions& options, RecordTable& table, LogSay say);
    ~LogSink();

    // Prepares the output (text, csv: the file is created and the header written); false with
    // the reason when that fails.
    bool Open(std::string& why);
    // The last row of the table was just recorded, at `at`.
    void RowRecorded(const QDateTime& at);
    // Every second: retries of failed writes; the db's rewrite every 10 s.
    void Tick();
    bool ReaderGone() const { return lines_ && lines_->ReaderGone(); }
    // Writes what is left; 0 when every row is in the output, 1 when some went to a fallback.
    int Finish(uint64_t frames);

private:
    bool SaveDb();

    LogOptions opt_;
    RecordTable& table_;
    LogSay say_;
    std::unique_ptr<LogLineWriter> lines_;
    uint64_t rows_ = 0;
    // db: rows in the table that the file does not hold yet, and the time since the last save.
    bool dbDirty_ = false;
    bool dbFailing_ = false;
    QElapsedTimer sinceDbSave_;
};

// The terminal progress line: "frames F  rows R  elapsed H:MM:SS  last reading".
std::string ProgressText(uint64_t frames, int32_t rows, int64_t elapsedMs, const std::string& last);
