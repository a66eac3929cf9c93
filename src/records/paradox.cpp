#include "records/paradox.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

std::string Hex2(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", v & 0xFFu);
    return b;
}

// Bytes a field of this type takes in a record; 0 when the descriptor is not valid.
uint16_t FieldBytes(PxType t, uint8_t declared) {
    switch (t) {
        case PxType::Alpha:
        case PxType::Bytes: return declared;
        case PxType::Short: return declared == 2 ? 2 : 0;
        case PxType::Date:
        case PxType::Long:
        case PxType::Time:
        case PxType::AutoInc: return declared == 4 ? 4 : 0;
        case PxType::Money:
        case PxType::Number:
        case PxType::Timestamp: return declared == 8 ? 8 : 0;
        case PxType::Logical: return declared == 1 ? 1 : 0;
        case PxType::Bcd: return declared <= 32 ? 17 : 0;
        case PxType::Memo:
        case PxType::Blob:
        case PxType::FmtMemo:
        case PxType::Ole:
        case PxType::Graphic: return declared >= 10 ? declared : 0;
    }
    return 0;
}

bool KnownType(uint8_t code) {
    switch (code) {
        case 0x01:
        case 0x02:
        case 0x03:
        case 0x04:
        case 0x05:
        case 0x06:
        case 0x09:
        case 0x0C:
        case 0x0D:
        case 0x0E:
        case 0x0F:
        case 0x10:
        case 0x14:
        case 0x15:
        case 0x16:
        case 0x17:
        case 0x18: return true;
        default: return false;
    }
}

// Civil date from days since 1970-01-01.
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

// Paradox day number (1 = 0001-01-01) as "yyyy-MM-dd".
std::string DateText(int64_t pxDay) {
    int64_t y;
    unsigned m, d;
    CivilFromDays(pxDay - 719163, y, m, d);
    char b[32];
    std::snprintf(b, sizeof b, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
    return b;
}

std::string TimeText(int64_t ms) {
    ms %= kMsPerDay;
    if (ms < 0) ms += kMsPerDay;
    char b[16];
    std::snprintf(b, sizeof b, "%02d:%02d:%02d", int(ms / 3600000), int(ms / 60000 % 60), int(ms / 1000 % 60));
    return b;
}

std::string DoubleText(double v) {
    char b[64];
    auto r = std::to_chars(b, b + sizeof b, v);
    return std::string(b, r.ptr);
}

}  // namespace

bool PxIsBlob(PxType t) {
    return t == PxType::Memo || t == PxType::Blob || t == PxType::FmtMemo || t == PxType::Ole || t == PxType::Graphic;
}

const char* PxTypeName(PxType t) {
    switch (t) {
        case PxType::Alpha: return "alpha";
        case PxType::Date: return "date";
        case PxType::Short: return "short";
        case PxType::Long: return "long integer";
        case PxType::Money: return "money";
        case PxType::Number: return "number";
        case PxType::Logical: return "logical";
        case PxType::Memo: return "memo";
        case PxType::Blob: return "binary";
        case PxType::FmtMemo: return "formatted memo";
        case PxType::Ole: return "OLE";
        case PxType::Graphic: return "graphic";
        case PxType::Time: return "time";
        case PxType::Timestamp: return "timestamp";
        case PxType::AutoInc: return "autoincrement";
        case PxType::Bcd: return "BCD";
        case PxType::Bytes: return "bytes";
    }
    return "unknown";
}

int PxSchema::Find(const std::string& name) const {
    for (size_t i = 0; i < fields.size(); ++i) {
        const std::string& n = fields[i].name;
        if (n.size() != name.size()) continue;
        bool same = true;
        for (size_t k = 0; k < n.size() && same; ++k) {
            unsigned char a = static_cast<unsigned char>(n[k]), b = static_cast<unsigned char>(name[k]);
            if (a >= 'a' && a <= 'z') a = a - 'a' + 'A';
            if (b >= 'a' && b <= 'z') b = b - 'a' + 'A';
            same = a == b;
        }
        if (same) return int(i);
    }
    return -1;
}

void PxSchema::Add(const std::string& name, PxType type, uint8_t declared) {
    PxField f;
    f.name = name;
    f.type = type;
    f.declared = declared;
    f.size = FieldBytes(type, declared);
    if (f.size == 0)
        throw ParadoxError("field '" + name + "': invalid size " + std::to_string(declared) + " for type " +
                           PxTypeName(type));
    f.offset = recordSize;
    if (size_t(recordSize) + f.size > 0xFFFF) throw ParadoxError("record too long");
    recordSize = uint16_t(recordSize + f.size);
    fields.push_back(std::move(f));
}

PxTable ReadParadox(const uint8_t* data, size_t size) {
    return ReadParadoxFrom(
        [data, size](uint64_t off, uint8_t* buf, size_t n) -> size_t {
            if (off >= size) return 0;
            const size_t got = std::min<uint64_t>(n, size - off);
            std::memcpy(buf, data + off, got);
            return got;
        },
        size);
}

PxTable ReadParadoxFrom(const PxReadAt& readAt, uint64_t size) {
    if (size < 0x58)
        throw ParadoxError("not a Paradox table: the file is too short for a table header (" + std::to_string(size) +
                           " bytes)");
    std::vector<uint8_t> head(0x58);
    if (readAt(0, head.data(), head.size()) != head.size())
        throw ParadoxError("the file is truncated inside its header");
    const uint8_t* data = head.data();
    const uint16_t recordSize = U16(data + 0x00);
    const uint16_t headerSize = U16(data + 0x02);
    const uint8_t fileType = data[0x04];
    const uint8_t maxTableSize = data[0x05];
    const uint32_t numRecords = U32(data + 0x06);
    const uint16_t firstBlock = U16(data + 0x0E);
    const uint16_t numFields = U16(data + 0x21);
    const uint8_t sortOrder = data[0x29];
    const uint8_t version = data[0x39];

    if (fileType != 0 && fileType != 2)
        throw ParadoxError("not a Paradox data table (file type " + Hex2(fileType) + ")");
    if (version < 3 || version > 0x0C)
        throw ParadoxError("not a Paradox table (unknown version byte " + Hex2(version) + ")");
    if (maxTableSize < 1 || maxTableSize > 32)
        throw ParadoxError("not a Paradox table (invalid block size code " + std::to_string(maxTableSize) + ")");
    const size_t blockSize = size_t(maxTableSize) * 0x400;
    if (headerSize < 0x58 || headerSize > size)
        throw ParadoxError("the file is damaged or truncated: header size " + std::to_string(headerSize) +
                           " does not fit the file (" + std::to_string(size) + " bytes)");
    if (numFields < 1 || numFields > 255)
        throw ParadoxError("the file is damaged: " + std::to_string(numFields) + " fields");
    if (recordSize < 1 || size_t(recordSize) + 6 > blockSize)
        throw ParadoxError("the file is damaged: record size " + std::to_string(recordSize) + " does not fit a block");

    const bool v4 = version >= 5;
    const size_t fieldInfo = v4 ? 0x78 : 0x58;
    if (v4 && headerSize < 0x78) throw ParadoxError("the file is damaged: header too short");
    // The basic checks passed: now the whole header (at most 64 KB).
    head.resize(headerSize);
    if (readAt(0, head.data(), head.size()) != head.size())
        throw ParadoxError("the file is truncated inside its header");
    data = head.data();
    const uint32_t encryption = v4 ? U32(data + 0x5C) : U32(data + 0x25);
    if (encryption != 0) throw ParadoxError("the table is password protected (encrypted tables cannot be read)");

    PxTable t;
    t.fileVersion = version;
    t.sortOrder = sortOrder;
    if (v4) t.codePage = U16(data + 0x6A);
    if (fieldInfo + 2 * size_t(numFields) > headerSize)
        throw ParadoxError("the file is damaged: field descriptors exceed the header");
    std::vector<std::pair<uint8_t, uint8_t>> desc(numFields);
    size_t sum = 0;
    for (size_t i = 0; i < numFields; ++i) {
        const uint8_t code = data[fieldInfo + 2 * i];
        const uint8_t declared = data[fieldInfo + 2 * i + 1];
        if (!KnownType(code))
            throw ParadoxError("field " + std::to_string(i + 1) + " has an unknown type " + Hex2(code));
        const uint16_t bytes = FieldBytes(PxType(code), declared);
        if (bytes == 0)
            throw ParadoxError("field " + std::to_string(i + 1) + " has an invalid size " + std::to_string(declared) +
                               " for its type " + PxTypeName(PxType(code)));
        desc[i] = {code, declared};
        sum += bytes;
    }
    if (sum != recordSize)
        throw ParadoxError("the file is damaged: the fields take " + std::to_string(sum) + " bytes, the header says " +
                           std::to_string(recordSize));

    // Table name pointer, field name pointers, table name, then the field names.
    size_t pos = fieldInfo + 2 * size_t(numFields) + 4 + 4 * size_t(numFields);
    const size_t tableNameLen = version >= 0x0C ? 261 : 79;
    if (pos + tableNameLen > headerSize) throw ParadoxError("the file is damaged: table name exceeds the header");
    {
        const char* tn = reinterpret_cast<const char*>(data + pos);
        t.tableName.assign(tn, strnlen(tn, tableNameLen));
    }
    pos += tableNameLen;
    for (size_t i = 0; i < numFields; ++i) {
        const uint8_t* start = data + pos;
        const void* nul = std::memchr(start, 0, headerSize - pos);
        if (!nul) throw ParadoxError("the file is damaged: field names exceed the header");
        const size_t len = static_cast<const uint8_t*>(nul) - start;
        t.schema.Add(std::string(reinterpret_cast<const char*>(start), len), PxType(desc[i].first), desc[i].second);
        pos += len + 1;
    }
    // Field numbers, then the sort order's name (tables of version 4 and later).
    if (v4 && pos + 2 * size_t(numFields) < headerSize) {
        pos += 2 * size_t(numFields);
        const char* so = reinterpret_cast<const char*>(data + pos);
        const size_t len = strnlen(so, std::min<size_t>(headerSize - pos, 32));
        bool printable = len > 0 && len < 32;
        for (size_t k = 0; k < len && printable; ++k) printable = so[k] > 0x20 && so[k] < 0x7F;
        if (printable) t.sortOrderName.assign(so, len);
    }

    // Data blocks, in the order of their chain, read one at a time.
    t.rows.Reset(recordSize);
    const uint64_t available = (size - headerSize + blockSize - 1) / blockSize;
    if (numRecords == 0 && firstBlock == 0) return t;
    if (firstBlock == 0)
        throw ParadoxError("the file is damaged: " + std::to_string(numRecords) + " records but no first data block");
    // Block numbers are 16-bit: at most 65535 blocks can be named.
    std::vector<bool> visited(size_t(std::min<uint64_t>(available, 0xFFFF)) + 1, false);
    std::vector<uint8_t> blk(blockSize);
    size_t block = firstBlock;
    while (block != 0) {
        if (block > available)
            throw ParadoxError("the file is truncated: data block " + std::to_string(block) +
                               " lies beyond the end of the file");
        if (visited[block])
            throw ParadoxError("the file is damaged: the chain of data blocks loops at block " + std::to_string(block));
        visited[block] = true;
        const uint64_t off = headerSize + uint64_t(block - 1) * blockSize;
        const size_t got = readAt(off, blk.data(), blockSize);
        if (got < 6) throw ParadoxError("the file is truncated inside data block " + std::to_string(block));
        const int16_t add = int16_t(U16(blk.data() + 4));
        if (add >= 0) {
            const size_t n = size_t(add) / recordSize + 1;
            if (6 + n * recordSize > blockSize)
                throw ParadoxError("the file is damaged: data block " + std::to_string(block) +
                                   " claims more records than it holds");
            if (6 + n * recordSize > got)
                throw ParadoxError("the file is truncated inside data block " + std::to_string(block));
            if (t.rows.size() + n > numRecords)
                throw ParadoxError("the file is damaged: the data blocks hold more records than the header counts (" +
                                   std::to_string(numRecords) + ")");
            for (size_t i = 0; i < n; ++i) t.rows.Append(blk.data() + 6 + i * recordSize);
        }
        block = U16(blk.data());
    }
    if (t.rows.size() != numRecords)
        throw ParadoxError("the file is damaged or truncated: the header counts " + std::to_string(numRecords) +
                           " records, the data blocks hold " + std::to_string(t.rows.size()));
    return t;
}

// ---- field values ----

bool PxIsNull(const PxField& f, const uint8_t* r) {
    const uint8_t* p = r + f.offset;
    // An empty BCD value keeps its count of decimals in the first byte, without a sign.
    if (f.type == PxType::Bcd) {
        if (p[0] & 0x80) return false;
        for (size_t i = 1; i < f.size; ++i)
            if (p[i]) return false;
        return true;
    }
    for (size_t i = 0; i < f.size; ++i)
        if (p[i]) return false;
    return true;
}

bool PxGetInt(const PxField& f, const uint8_t* r, int64_t& value) {
    if (PxIsNull(f, r)) return false;
    const uint8_t* p = r + f.offset;
    uint64_t u = 0;
    for (size_t i = 0; i < f.size; ++i) u = (u << 8) | p[i];
    const unsigned bits = 8u * f.size;
    u ^= uint64_t(1) << (bits - 1);
    // Sign-extend from the field's width.
    if (u & (uint64_t(1) << (bits - 1))) u |= ~uint64_t(0) << (bits - 1);
    value = int64_t(u);
    return true;
}

bool PxGetDouble(const PxField& f, const uint8_t* r, double& value) {
    if (PxIsNull(f, r)) return false;
    const uint8_t* p = r + f.offset;
    uint64_t u = 0;
    for (int i = 0; i < 8; ++i) u = (u << 8) | p[i];
    if (u & (uint64_t(1) << 63))
        u &= ~(uint64_t(1) << 63);
    else
        u = ~u;
    std::memcpy(&value, &u, 8);
    return true;
}

std::string PxGetAlpha(const PxField& f, const uint8_t* r) {
    const char* p = reinterpret_cast<const char*>(r + f.offset);
    return std::string(p, strnlen(p, f.size));
}

std::string PxGetBcd(const PxField& f, const uint8_t* r) {
    if (PxIsNull(f, r)) return std::string();
    const uint8_t* p = r + f.offset;
    const bool positive = (p[0] & 0x80) != 0;
    const unsigned decimals = std::min<unsigned>(p[0] & 0x3F, 32);
    std::string digits;
    for (int i = 1; i < 17; ++i) {
        unsigned hi = p[i] >> 4, lo = p[i] & 0x0F;
        if (!positive) {
            hi = 15 - hi;
            lo = 15 - lo;
        }
        digits += char('0' + std::min(hi, 9u));
        digits += char('0' + std::min(lo, 9u));
    }
    std::string intPart = digits.substr(0, 32 - decimals);
    const std::string frac = digits.substr(32 - decimals);
    const size_t nz = intPart.find_first_not_of('0');
    intPart = nz == std::string::npos ? "0" : intPart.substr(nz);
    std::string out = positive ? "" : "-";
    out += intPart;
    if (!frac.empty()) out += "." + frac;
    return out;
}

void PxSetNull(const PxField& f, uint8_t* r) { std::memset(r + f.offset, 0, f.size); }

void PxSetInt(const PxField& f, uint8_t* r, int64_t value) {
    const unsigned bits = 8u * f.size;
    uint64_t u = uint64_t(value);
    u ^= uint64_t(1) << (bits - 1);
    uint8_t* p = r + f.offset;
    for (int i = int(f.size) - 1; i >= 0; --i) {
        p[i] = uint8_t(u);
        u >>= 8;
    }
}

void PxSetDouble(const PxField& f, uint8_t* r, double value) {
    uint64_t u;
    std::memcpy(&u, &value, 8);
    if (u & (uint64_t(1) << 63))
        u = ~u;
    else
        u |= uint64_t(1) << 63;
    uint8_t* p = r + f.offset;
    for (int i = 7; i >= 0; --i) {
        p[i] = uint8_t(u);
        u >>= 8;
    }
}

void PxSetAlpha(const PxField& f, uint8_t* r, const std::string& text) {
    uint8_t* p = r + f.offset;
    std::memset(p, 0, f.size);
    std::memcpy(p, text.data(), std::min<size_t>(text.size(), f.size));
}

std::string PxFieldText(const PxField& f, const uint8_t* r) {
    int64_t i = 0;
    double d = 0;
    switch (f.type) {
        case PxType::Alpha: return PxGetAlpha(f, r);
        case PxType::Short:
        case PxType::Long:
        case PxType::AutoInc: return PxGetInt(f, r, i) ? std::to_string(i) : std::string();
        case PxType::Number:
        case PxType::Money: return PxGetDouble(f, r, d) ? DoubleText(d) : std::string();
        case PxType::Date: return PxGetInt(f, r, i) ? DateText(i) : std::string();
        case PxType::Time: return PxGetInt(f, r, i) ? TimeText(i) : std::string();
        case PxType::Timestamp: {
            if (!PxGetDouble(f, r, d)) return std::string();
            // Milliseconds since 0001-01-01 minus one day. A value no calendar holds (NaN,
            // infinite, beyond +-2^62 ms) is shown as such rather than converted.
            if (!std::isfinite(d) || std::fabs(d) > 4.0e18) return "(invalid timestamp)";
            const int64_t ms = int64_t(std::floor(d));
            // Floor division: a time before year 1 belongs to the day before, not the day after.
            int64_t day = ms / kMsPerDay;
            int64_t rest = ms % kMsPerDay;
            if (rest < 0) {
                rest += kMsPerDay;
                --day;
            }
            return DateText(day) + " " + TimeText(rest);
        }
        case PxType::Logical: {
            const uint8_t b = r[f.offset];
            if (b == 0) return std::string();
            return (b & 0x7F) ? "True" : "False";
        }
        case PxType::Bcd: return PxGetBcd(f, r);
        case PxType::Bytes: {
            if (PxIsNull(f, r)) return std::string();
            std::string out;
            static const char* hx = "0123456789ABCDEF";
            for (size_t k = 0; k < f.size; ++k) {
                out += hx[r[f.offset + k] >> 4];
                out += hx[r[f.offset + k] & 15];
            }
            return out;
        }
        case PxType::Memo:
        case PxType::FmtMemo: return PxIsNull(f, r) ? std::string() : "(Memo)";
        case PxType::Graphic: return PxIsNull(f, r) ? std::string() : "(Graphic)";
        case PxType::Ole: return PxIsNull(f, r) ? std::string() : "(OLE)";
        case PxType::Blob: return PxIsNull(f, r) ? std::string() : "(Blob)";
    }
    return std::string();
}

// ---- writer ----
namespace pxdetail {

namespace {
size_t HeaderBytes(const PxSchema& schema) {
    size_t n = 0x78 + 2 * schema.fields.size() + 4 + 4 * schema.fields.size() + 261;
    for (const auto& f : schema.fields) n += f.name.size() + 1;
    n += 2 * schema.fields.size() + 32;  // field numbers, sort order name
    return n;
}
}  // namespace

Layout PlanLayout(const PxSchema& schema, size_t rowCount) {
    if (schema.fields.empty() || schema.fields.size() > 255) throw ParadoxError("a table needs 1 to 255 fields");
    Layout l;
    l.headerSize = (HeaderBytes(schema) + 0x7FF) / 0x800 * 0x800;
    if (l.headerSize > 0xF800) throw ParadoxError("the table header is too large");
    for (size_t kb : {2, 4, 8, 16, 32}) {
        l.blockSize = kb * 0x400;
        if (size_t(schema.recordSize) + 6 > l.blockSize) continue;
        l.rowsPerBlock = (l.blockSize - 6) / schema.recordSize;
        l.blocks = (rowCount + l.rowsPerBlock - 1) / l.rowsPerBlock;
        if (l.blocks <= 0xFFFF) return l;
    }
    throw ParadoxError("too many rows for one Paradox table (" + std::to_string(rowCount) + ")");
}

void WriteHeader(std::vector<uint8_t>& out, const PxSchema& schema, size_t rowCount, const Layout& l,
                 const PxWriteOptions& options) {
    out.assign(l.headerSize, 0);
    uint8_t* h = out.data();
    const size_t nf = schema.fields.size();
    const uint16_t blocks = uint16_t(l.blocks);
    // In-memory pointers of the engine that wrote the file; any consistent values will do.
    const uint32_t base = 0x10000000;
    Put16(h + 0x00, schema.recordSize);
    Put16(h + 0x02, uint16_t(l.headerSize));
    h[0x04] = 2;  // data file without primary index
    h[0x05] = uint8_t(l.blockSize / 0x400);
    Put32(h + 0x06, uint32_t(rowCount));
    Put16(h + 0x0A, blocks);          // next block
    Put16(h + 0x0C, blocks);          // file blocks
    Put16(h + 0x0E, blocks ? 1 : 0);  // first block
    Put16(h + 0x10, blocks);          // last block
    Put16(h + 0x21, uint16_t(nf));
    Put16(h + 0x23, 0);  // primary key fields
    Put32(h + 0x25, 0xFF00FF00u);
    h[0x29] = options.sortOrder;                      // sort order id
    Put32(h + 0x30, base + uint32_t(0x78 + 2 * nf));  // -> table name pointer
    Put32(h + 0x34, base + 0x78);                     // -> field descriptors
    h[0x39] = 0x0C;                                   // Paradox 7 table
    Put16(h + 0x3A, blocks);
    h[0x3E] = 0x1F;
    h[0x3F] = 0x0F;
    Put16(h + 0x58, 0x010C);
    Put16(h + 0x5A, 0x010C);
    Put16(h + 0x64, uint16_t(nf + 1));
    Put16(h + 0x6A, options.codePage);  // code page of the 8-bit texts
    h[0x6C] = 1;
    h[0x6D] = 1;
    size_t pos = 0x78;
    for (const auto& f : schema.fields) {
        h[pos++] = uint8_t(f.type);
        h[pos++] = f.declared;
    }
    const size_t tableNameAt = pos + 4 + 4 * nf;
    Put32(h + pos, base + uint32_t(tableNameAt));
    pos += 4;
    size_t nameAt = tableNameAt + 261;
    for (const auto& f : schema.fields) {
        Put32(h + pos, base + uint32_t(nameAt));
        pos += 4;
        nameAt += f.name.size() + 1;
    }
    std::memcpy(h + pos, options.tableName.data(), std::min<size_t>(options.tableName.size(), 260));
    pos += 261;
    for (const auto& f : schema.fields) {
        std::memcpy(h + pos, f.name.data(), f.name.size());
        pos += f.name.size() + 1;
    }
    for (size_t i = 0; i < nf; ++i) {
        Put16(h + pos, uint16_t(i + 1));
        pos += 2;
    }
    std::memcpy(h + pos, options.sortOrderName.data(), std::min<size_t>(options.sortOrderName.size(), 31));
}

}  // namespace pxdetail
