#pragma once
// The record table: a Paradox table file opened exclusively (an OS lock on the file, held
// until Close or the end of the process), all of its rows read into memory, and the rows
// appended by recording kept in memory next to them (cached updates: recording never writes
// into the file). Rows are stored compactly in the file's own record layout.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "records/paradox.h"

// An error of the record table: the message names the file and the reason.
class TableError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One appended reading, the values of the seven record fields.
struct RecordRow {
    int32_t No = 0;
    double Time = 0.0;  // date-time as floating days since 1899-12-30; the field keeps what its type holds
    std::string DcAc;
    std::string Value;
    std::string Unit;
    std::string Auto;
    float Nval = 0.0f;
};

// The grid's six columns, in order.
enum RecordColumn : int { ColNo = 0, ColTime, ColDcAc, ColValue, ColUnit, ColAuto, kRecordColumns };

class RecordTable {
public:
    // Names of the seven record fields (matched without regard to case).
    static constexpr const char* kFieldNames[7] = {"No", "Time", "DC/AC", "Value", "Unit", "AUTO", "Nval"};
    static constexpr int kNval = 6;
    // The structure of the shipped empty table Ms35fdb.DB.
    static PxSchema DefaultSchema();

    RecordTable();
    ~RecordTable();
    RecordTable(const RecordTable&) = delete;
    RecordTable& operator=(const RecordTable&) = delete;

    // Opens path in place of the current table: locks it exclusively, reads the header, then
    // every row, and checks that the seven record fields exist; only then the current table is
    // closed (its lock released) and replaced. On failure the current table stays open, with
    // its rows, and recording goes on into it; throws TableError naming the file and the
    // reason. A FIFO, device or folder is refused at once, without waiting. A recovery journal
    // kept aside (RecordJournal) opens as a table of the record table's own structure.
    void Open(const std::string& path);
    // True when path names the file this table holds open.
    bool HoldsFile(const std::string& path) const;
    // Takes over what other holds (its file, lock and rows); the current table is closed
    // first and other is left closed and empty.
    void TakeOver(RecordTable& other);
    // Releases the file and its lock. The rows stay readable until the next Open or Empty.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // The path as given to the last Open (also after a failed one).
    const std::string& FileName() const { return path_; }

    // Rows: the file's rows first, then the appended ones.
    size_t RowCount() const { return rows_.size(); }
    const PxSchema& Schema() const { return schema_; }
    const RowStore& Rows() const { return rows_; }
    // One record as stored (Schema().recordSize bytes).
    const uint8_t* RowData(size_t row) const { return rows_.Row(row); }

    // The grid's text of a cell: column 0..5 = No, Time, DC/AC, Value, Unit, AUTO. Unit is the
    // raw segment-font code (show it through SegmentText). Empty fields give empty texts.
    std::string CellText(size_t row, int column) const;
    // Any field of the table as text (PxFieldText).
    std::string FieldText(size_t row, size_t field) const;
    // Index in Schema().fields of a grid column's field, -1 when the table has none.
    int ColumnField(int column) const { return column >= 0 && column < kRecordColumns ? colField_[column] : -1; }

    // Appends a row (cached: never written to the file). Throws TableError when the table is
    // not open.
    void Append(const RecordRow& row);
    // Removes every row, the file's and the appended ones; the file itself is not touched.
    void Empty();

    // The language of the texts as the file declared it (carried into a Paradox copy).
    uint16_t CodePage() const { return codePage_; }
    uint8_t SortOrder() const { return sortOrder_; }
    const std::string& SortOrderName() const { return sortOrderName_; }

    // Bytes held for the rows.
    size_t BytesAllocated() const { return rows_.BytesAllocated(); }

private:
    void MapColumns();

    std::string path_;
    int fd_ = -1;
    PxSchema schema_;
    RowStore rows_;
    int colField_[7] = {-1, -1, -1, -1, -1, -1, -1};
    uint16_t codePage_ = 0;
    uint8_t sortOrder_ = 0;
    std::string sortOrderName_;
};

// ---- date-time helpers (floating days since 1899-12-30, local time) ----
// The current local date and time.
double NowDateTime();
// Milliseconds since midnight of a date-time (its time-of-day part, rounded to the ms).
int64_t TimeOfDayMs(double dateTime);
// A date-time of the time of day h:m:s (no date part).
double EncodeTime(int h, int m, int s, int ms = 0);
