#pragma once
// The recovery journal: every row recording appends to the record table is also appended to a
// small file beside it, so that a kill, a logout or a power cut does not take the unsaved rows
// with it. Recording still never writes into the record table file itself.
//
// File layout: a 24-byte head ("MS42K-JOURNAL 1\n" and the date-time of the first row, a
// little-endian double), then one record per row:
//   u8 n, then n bytes: i32 No, f64 Time, f32 Nval, four texts (u8 length + bytes) DC/AC,
//   Value, Unit, AUTO; then u16 Fletcher sum of those n bytes.
// About 40 bytes a row. A torn last record (the process died while writing it) is dropped on
// reading; every complete record before it is kept.
//
// Writes are buffered: the buffer goes to the file when it is a second old or 64 KB large
// (so a kill -9 loses at most the last second), and the file is synced at least every
// kSyncSeconds (so a power cut loses at most that much).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "records/recordtable.h"

class JournalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class RecordJournal {
public:
    static constexpr double kFlushSeconds = 1.0;
    static constexpr double kSyncSeconds = 3.0;
    static constexpr size_t kHeadSize = 24;

    // The journal beside a record table file: "<table file>.journal".
    static std::string PathFor(const std::string& recordTablePath);

    explicit RecordJournal(std::string path);
    ~RecordJournal();  // flushes and syncs what is buffered; the file stays
    RecordJournal(const RecordJournal&) = delete;
    RecordJournal& operator=(const RecordJournal&) = delete;

    const std::string& Path() const { return path_; }
    // Rows written since the last Clear (buffered ones included).
    size_t Rows() const { return rows_; }

    // Appends one row (the file is created at the first row). now: the current local
    // date-time, kept in the head for the first row. Throws JournalError when the file
    // cannot be created or written; the row is then still counted as not journaled.
    void Append(const RecordRow& row, double now);
    // Writes the buffer out, and syncs the file when the last sync is kSyncSeconds old. Call
    // about once a second (the window's one-second timer does), so that a row waits at most
    // about a second in memory also when no further row comes.
    void Tick();
    // Writes the buffer out now / writes it and syncs the file now.
    void Flush();
    void Sync();
    // Forgets every row: the file is removed (the rows are saved or discarded).
    void Clear();
    // Continues an existing journal (after its rows were restored): later rows are appended
    // after its last complete record; a torn tail is cut off.
    void Continue();
    // Renames the file to a name of its own beside it and forgets it; returns the new path
    // (empty when there was no file).
    std::string KeepAside();

    // ---- reading a journal file ----
    struct Summary {
        size_t rows = 0;
        double firstDateTime = 0.0;  // local date-time of the first row
        uint64_t goodBytes = 0;      // length of the complete records
    };
    // True when another running program holds the journal (it is still being written).
    static bool InUse(const std::string& path);
    // True when the bytes begin like a journal.
    static bool LooksLikeJournal(const uint8_t* data, size_t size);
    // Reads path and hands every complete row to each (each may be empty to count only).
    // Throws JournalError when the file cannot be read or is not a journal.
    static Summary Read(const std::string& path, const std::function<void(const RecordRow&)>& each);

private:
    void OpenFile(bool fresh);
    void WriteOut();
    static double Seconds();

    std::string path_;
    int fd_ = -1;
    std::vector<uint8_t> buf_;
    size_t rows_ = 0;
    double lastFlush_ = 0.0;
    double lastSync_ = 0.0;
    bool unsynced_ = false;
};

// The user's question at start-up: "N readings recorded on DATE from TIME were not saved.
// Restore them?"
std::string JournalRestoreQuestion(size_t rows, double firstDateTime);
