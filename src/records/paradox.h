#pragma once
// Our own Paradox table reader and writer: header, field descriptors and data blocks of a
// .DB file. Every field type Paradox defines is sized and skipped safely; the types the
// record table uses (alpha, short, long, number, money, date, time, timestamp, logical,
// autoincrement) are fully read and written. Every read is bounds-checked: a damaged file
// ends in a ParadoxError naming the reason, never in a crash or an endless walk.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "records/rowstore.h"

// A file that is not a readable Paradox table (or cannot be written as one).
class ParadoxError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Field type codes as stored in the field descriptors.
enum class PxType : uint8_t {
    Alpha = 0x01,
    Date = 0x02,
    Short = 0x03,
    Long = 0x04,
    Money = 0x05,
    Number = 0x06,
    Logical = 0x09,
    Memo = 0x0C,
    Blob = 0x0D,
    FmtMemo = 0x0E,
    Ole = 0x0F,
    Graphic = 0x10,
    Time = 0x14,
    Timestamp = 0x15,
    AutoInc = 0x16,
    Bcd = 0x17,
    Bytes = 0x18,
};

// True for the types whose values live (partly) in the companion .MB file.
bool PxIsBlob(PxType type);
// Short name of a type for messages ("alpha", "memo", ...).
const char* PxTypeName(PxType type);

struct PxField {
    std::string name;  // 8-bit text as stored
    PxType type = PxType::Alpha;
    uint8_t declared = 0;  // size byte of the descriptor (BCD: digits after the point)
    uint16_t size = 0;     // bytes in the record
    uint16_t offset = 0;   // byte offset in the record
};

struct PxSchema {
    std::vector<PxField> fields;
    uint16_t recordSize = 0;

    // Index of the field whose name equals name without regard to case; -1 when absent.
    int Find(const std::string& name) const;
    // Appends a field, computing its size and offset (BCD: 17 bytes).
    void Add(const std::string& name, PxType type, uint8_t declared);
};

// A whole table read from a file: its structure and all its records, as stored.
struct PxTable {
    PxSchema schema;
    RowStore rows;
    uint8_t fileVersion = 0;
    std::string tableName;
    // Language of the texts: the DOS code page (0 in tables older than version 4) and the
    // sort order, its id byte and its name ("ascii", "intl850", ...; empty when absent).
    uint16_t codePage = 0;
    uint8_t sortOrder = 0;
    std::string sortOrderName;
};

// Reads a table from the bytes of a .DB file. Throws ParadoxError with the reason.
PxTable ReadParadox(const uint8_t* data, size_t size);

// Reads size bytes at offset into buf and returns how many it got (fewer only at the end of
// the file); throws ParadoxError when the read fails.
using PxReadAt = std::function<size_t(uint64_t offset, uint8_t* buf, size_t size)>;
// Reads a table from a file of fileSize bytes without holding the file in memory: the header
// first, checked before anything else is read, then only the data blocks its chain names, one
// block at a time, straight into the row store.
PxTable ReadParadoxFrom(const PxReadAt& readAt, uint64_t fileSize);

// Writes the table form: header, field descriptors and the records given by rowAt(0 ..
// rowCount-1), each schema.recordSize bytes, in data blocks. Returns the file's bytes.
struct PxWriteOptions {
    std::string tableName;                // name kept in the header (the file's own name)
    uint16_t codePage = 1252;             // code page of the 8-bit texts
    uint8_t sortOrder = 0;                // sort order id byte
    std::string sortOrderName = "ascii";  // sort order name
};
template <class RowAt>
std::vector<uint8_t> WriteParadox(const PxSchema& schema, size_t rowCount, RowAt rowAt, const PxWriteOptions& options);
// The same bytes handed to sink(data, size) piece by piece (the header, then one data block
// at a time), so that a large table is never held twice in memory.
template <class RowAt, class Sink>
void WriteParadoxTo(const PxSchema& schema, size_t rowCount, RowAt rowAt, const PxWriteOptions& options, Sink&& sink);

// ---- field values in the record layout ----

// Null (empty) test: every byte of the field zero.
bool PxIsNull(const PxField& f, const uint8_t* record);
// Integer types (short, long, autoinc, date, time): false when empty.
bool PxGetInt(const PxField& f, const uint8_t* record, int64_t& value);
// Number and money: false when empty.
bool PxGetDouble(const PxField& f, const uint8_t* record, double& value);
// Alpha: the text up to the first NUL.
std::string PxGetAlpha(const PxField& f, const uint8_t* record);
// BCD as decimal text ("-12.340000"); empty when empty.
std::string PxGetBcd(const PxField& f, const uint8_t* record);

void PxSetNull(const PxField& f, uint8_t* record);
void PxSetInt(const PxField& f, uint8_t* record, int64_t value);
void PxSetDouble(const PxField& f, uint8_t* record, double value);
// Alpha: the text, cut to the field's width, NUL padded.
void PxSetAlpha(const PxField& f, uint8_t* record, const std::string& text);

// The value as text, the way the grid and the text form show it: integers in decimal,
// numbers shortest round-trip, date "yyyy-MM-dd", time "HH:mm:ss", timestamp
// "yyyy-MM-dd HH:mm:ss", logical "True"/"False", blobs "(Memo)"/"(Graphic)"/..., bytes
// in hexadecimal; an empty field gives an empty text.
std::string PxFieldText(const PxField& f, const uint8_t* record);

// Days between 0001-01-01 (Paradox day 1) and 1899-12-30 (day 0 of the date-time type).
constexpr int64_t kPxDateDelta = 693594;
constexpr int64_t kMsPerDay = 86400000;

// ---- implementation of the writer template ----
namespace pxdetail {
struct Layout {
    size_t headerSize = 0;
    size_t blockSize = 0;
    size_t rowsPerBlock = 0;
    size_t blocks = 0;
};
Layout PlanLayout(const PxSchema& schema, size_t rowCount);
void WriteHeader(std::vector<uint8_t>& out, const PxSchema& schema, size_t rowCount, const Layout& layout,
                 const PxWriteOptions& options);
}  // namespace pxdetail

template <class RowAt, class Sink>
void WriteParadoxTo(const PxSchema& schema, size_t rowCount, RowAt rowAt, const PxWriteOptions& options, Sink&& sink) {
    const pxdetail::Layout layout = pxdetail::PlanLayout(schema, rowCount);
    std::vector<uint8_t> buf;
    pxdetail::WriteHeader(buf, schema, rowCount, layout, options);
    sink(buf.data(), buf.size());
    const size_t rs = schema.recordSize;
    size_t row = 0;
    buf.assign(layout.blockSize, 0);
    for (size_t b = 0; b < layout.blocks; ++b) {
        std::fill(buf.begin(), buf.end(), uint8_t(0));
        uint8_t* blk = buf.data();
        const size_t n = std::min(layout.rowsPerBlock, rowCount - row);
        const uint16_t next = b + 1 < layout.blocks ? uint16_t(b + 2) : 0;
        const uint16_t prev = uint16_t(b);
        const int16_t add = int16_t((n - 1) * rs);
        blk[0] = uint8_t(next);
        blk[1] = uint8_t(next >> 8);
        blk[2] = uint8_t(prev);
        blk[3] = uint8_t(prev >> 8);
        blk[4] = uint8_t(uint16_t(add));
        blk[5] = uint8_t(uint16_t(add) >> 8);
        uint8_t* p = blk + 6;
        for (size_t i = 0; i < n; ++i, ++row, p += rs) {
            const uint8_t* src = rowAt(row);
            if (!src) throw ParadoxError("no data for row " + std::to_string(row));
            std::copy(src, src + rs, p);
        }
        sink(buf.data(), buf.size());
    }
}

template <class RowAt>
std::vector<uint8_t> WriteParadox(const PxSchema& schema, size_t rowCount, RowAt rowAt, const PxWriteOptions& options) {
    std::vector<uint8_t> out;
    WriteParadoxTo(schema, rowCount, rowAt, options,
                   [&out](const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); });
    return out;
}
