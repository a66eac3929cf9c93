#include "records/recordtable.h"
#include "records/journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

PxSchema RecordTable::DefaultSchema() {
    PxSchema s;
    s.Add("No", PxType::Long, 4);
    s.Add("Time", PxType::Time, 4);
    s.Add("DC/AC", PxType::Alpha, 2);
    s.Add("Value", PxType::Alpha, 10);
    s.Add("Unit", PxType::Alpha, 6);
    s.Add("AUTO", PxType::Alpha, 4);
    s.Add("Nval", PxType::Number, 8);
    return s;
}

RecordTable::RecordTable() {}

RecordTable::~RecordTable() { Close(); }

void RecordTable::Close() {
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
        fd_ = -1;
    }
}

namespace {
bool Writable(PxType t) {
    switch (t) {
        case PxType::Alpha:
        case PxType::Short:
        case PxType::Long:
        case PxType::AutoInc:
        case PxType::Number:
        case PxType::Money:
        case PxType::Date:
        case PxType::Time:
        case PxType::Timestamp: return true;
        default: return false;
    }
}

std::string SysError(int err) { return std::strerror(err); }
}  // namespace

namespace {
const char* FileKind(mode_t m) {
    if (S_ISDIR(m)) return "a folder";
    if (S_ISFIFO(m)) return "a named pipe (FIFO)";
    if (S_ISCHR(m)) return "a character device";
    if (S_ISBLK(m)) return "a block device";
    if (S_ISSOCK(m)) return "a socket";
    return "not a regular file";
}

void WriteRecordRow(const PxSchema& schema, const int* colField, uint8_t* r, const RecordRow& row);
}  // namespace

void RecordTable::Open(const std::string& path) {
    const std::string what = "Cannot open table '" + path + "': ";
    if (!IsOpen()) path_ = path;
    // O_NONBLOCK: opening a FIFO or a device must not wait for a writer; such files are
    // refused at once below.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        throw TableError(what + SysError(errno));
    }
    struct Closer {
        int& fd;
        ~Closer() {
            if (fd >= 0) ::close(fd);
        }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw TableError(what + SysError(errno));
    if (!S_ISREG(st.st_mode)) throw TableError(what + FileKind(st.st_mode) + ", not a table file");
    // The file this table already holds is locked by ourselves: it is locked again below,
    // once the old one is let go.
    bool sameFile = false;
    if (fd_ >= 0) {
        struct stat cur {};
        sameFile = ::fstat(fd_, &cur) == 0 && cur.st_dev == st.st_dev && cur.st_ino == st.st_ino;
    }
    if (!sameFile && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            throw TableError(what + "the table is in use by another program (it is opened exclusively)");
        throw TableError(what + "cannot lock the file: " + SysError(errno));
    }
    const int rfd = fd;
    const PxReadAt readAt = [rfd, &what](uint64_t off, uint8_t* buf, size_t n) -> size_t {
        size_t got = 0;
        while (got < n) {
            const ssize_t r = ::pread(rfd, buf + got, n - got, off_t(off + got));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) throw TableError(what + SysError(errno));
            if (r == 0) break;
            got += size_t(r);
        }
        return got;
    };
    PxTable t;
    uint8_t magic[16] = {};
    if (readAt(0, magic, sizeof magic) == sizeof magic && RecordJournal::LooksLikeJournal(magic, sizeof magic)) {
        // A recovery journal kept aside: its rows in the record table's own structure.
        t.schema = DefaultSchema();
        t.rows.Reset(t.schema.recordSize);
        t.codePage = 1252;
        t.sortOrderName = "ascii";
        int cols[7];
        for (int i = 0; i < 7; ++i) cols[i] = t.schema.Find(kFieldNames[i]);
        try {
            RecordJournal::Read(path,
                                [&](const RecordRow& row) { WriteRecordRow(t.schema, cols, t.rows.Append(), row); });
        } catch (const JournalError& e) {
            throw TableError(what + e.what());
        }
    } else {
        try {
            t = ReadParadoxFrom(readAt, uint64_t(st.st_size));
        } catch (const ParadoxError& e) {
            throw TableError(what + e.what());
        }
    }
    // The seven record fields must exist and take the values recording writes.
    std::string missing;
    for (int i = 0; i < 7; ++i) {
        const int f = t.schema.Find(kFieldNames[i]);
        if (f < 0) {
            missing += missing.empty() ? "" : ", ";
            missing += kFieldNames[i];
        } else if (!Writable(t.schema.fields[f].type)) {
            throw TableError(what + "field '" + t.schema.fields[f].name + "' is of type " +
                             PxTypeName(t.schema.fields[f].type) + ", which cannot hold the recorded values");
        }
    }
    if (!missing.empty()) throw TableError(what + "the table lacks the record field(s) " + missing);

    // The new file is good: only now the old table goes.
    Close();
    if (sameFile && ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        throw TableError(what + "cannot lock the file: " + SysError(errno));
    path_ = path;
    schema_ = std::move(t.schema);
    rows_ = std::move(t.rows);
    codePage_ = t.codePage;
    sortOrder_ = t.sortOrder;
    sortOrderName_ = t.sortOrderName;
    MapColumns();
    fd_ = fd;
    fd = -1;
}

bool RecordTable::HoldsFile(const std::string& path) const {
    if (fd_ < 0) return false;
    struct stat a {
    }, b{};
    return ::fstat(fd_, &a) == 0 && ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void RecordTable::TakeOver(RecordTable& other) {
    if (&other == this) return;
    Close();
    path_ = other.path_;
    fd_ = other.fd_;
    other.fd_ = -1;
    schema_ = other.schema_;
    rows_ = std::move(other.rows_);
    codePage_ = other.codePage_;
    sortOrder_ = other.sortOrder_;
    sortOrderName_ = other.sortOrderName_;
    MapColumns();
}

void RecordTable::MapColumns() {
    for (int i = 0; i < 7; ++i) colField_[i] = schema_.Find(kFieldNames[i]);
}

std::string RecordTable::FieldText(size_t row, size_t field) const {
    if (row >= rows_.size() || field >= schema_.fields.size()) return std::string();
    return PxFieldText(schema_.fields[field], rows_.Row(row));
}

std::string RecordTable::CellText(size_t row, int column) const {
    const int f = ColumnField(column);
    if (f < 0) return std::string();
    return FieldText(row, size_t(f));
}

namespace {
void SetNumber(const PxField& f, uint8_t* r, double v) {
    switch (f.type) {
        case PxType::Number:
        case PxType::Money: PxSetDouble(f, r, v); break;
        case PxType::Short: PxSetInt(f, r, int64_t(std::clamp(v, -32767.0, 32767.0))); break;
        case PxType::Long:
        case PxType::AutoInc: PxSetInt(f, r, int64_t(std::clamp(v, -2147483647.0, 2147483647.0))); break;
        case PxType::Alpha: {
            char b[64];
            auto res = std::to_chars(b, b + sizeof b, v);
            PxSetAlpha(f, r, std::string(b, res.ptr));
            break;
        }
        default: PxSetNull(f, r); break;
    }
}

void SetText(const PxField& f, uint8_t* r, const std::string& text) {
    if (f.type == PxType::Alpha) {
        PxSetAlpha(f, r, text);
        return;
    }
    // A text into a number field: its value, empty when it is no number.
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || !end || *end != '\0')
        PxSetNull(f, r);
    else
        SetNumber(f, r, v);
}

void SetDateTime(const PxField& f, uint8_t* r, double dt) {
    switch (f.type) {
        case PxType::Time: PxSetInt(f, r, TimeOfDayMs(dt)); break;
        case PxType::Date: PxSetInt(f, r, int64_t(std::floor(dt)) + kPxDateDelta); break;
        case PxType::Timestamp: PxSetDouble(f, r, std::round((dt + double(kPxDateDelta)) * double(kMsPerDay))); break;
        case PxType::Alpha: {
            const int64_t ms = TimeOfDayMs(dt);
            char b[16];
            std::snprintf(b, sizeof b, "%02d:%02d:%02d", int(ms / 3600000), int(ms / 60000 % 60), int(ms / 1000 % 60));
            PxSetAlpha(f, r, b);
            break;
        }
        default: SetNumber(f, r, dt); break;
    }
}

void WriteRecordRow(const PxSchema& schema, const int* colField, uint8_t* r, const RecordRow& row) {
    const auto& fs = schema.fields;
    // Field order as recording sets them: value, Nval, time, no, DC/AC, unit, Auto.
    SetText(fs[colField[ColValue]], r, row.Value);
    SetNumber(fs[colField[RecordTable::kNval]], r, double(row.Nval));
    SetDateTime(fs[colField[ColTime]], r, row.Time);
    SetNumber(fs[colField[ColNo]], r, double(row.No));
    SetText(fs[colField[ColDcAc]], r, row.DcAc);
    SetText(fs[colField[ColUnit]], r, row.Unit);
    SetText(fs[colField[ColAuto]], r, row.Auto);
}
}  // namespace

void RecordTable::Append(const RecordRow& row) {
    if (!IsOpen())
        throw TableError(path_.empty() ? std::string("No record table is open: the reading cannot be recorded")
                                       : "Table '" + path_ + "' is not open: the reading cannot be recorded");
    WriteRecordRow(schema_, colField_, rows_.Append(), row);
}

void RecordTable::Empty() { rows_.Clear(); }

// ---- date-time helpers ----

double NowDateTime() {
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 localMs = now.toMSecsSinceEpoch() + qint64(now.offsetFromUtc()) * 1000;
    return 25569.0 + double(localMs) / 86400000.0;
}

int64_t TimeOfDayMs(double dt) {
    const double frac = std::fabs(dt - std::trunc(dt));
    int64_t ms = int64_t(std::llround(frac * double(kMsPerDay)));
    if (ms >= kMsPerDay) ms -= kMsPerDay;
    return ms;
}

double EncodeTime(int h, int m, int s, int ms) {
    return (double(h) * 3600000.0 + double(m) * 60000.0 + double(s) * 1000.0 + double(ms)) / double(kMsPerDay);
}
