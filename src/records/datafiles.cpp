#include "records/datafiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

std::string FileExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) return std::string();
    return path.substr(dot);
}

SaveForm SaveFormFor(const std::string& path) {
    const std::string ext = FileExtension(path);
    const bool db =
        ext.size() == 3 && ext[0] == '.' && (ext[1] == 'd' || ext[1] == 'D') && (ext[2] == 'b' || ext[2] == 'B');
    return db ? SaveForm::Paradox : SaveForm::Text;
}

std::string TextSavedMessage(const std::string& path) { return "save table to specified file: " + path + " Scuss!"; }

std::string TextSaveFailedMessage(const std::string& path) { return "Could not save table to specified file: " + path; }

std::string TextSaveFailedMessage(const std::string& path, const std::string& reason) {
    return TextSaveFailedMessage(path) + "\n" + reason;
}

namespace {
// Appends a field's text to out without building a string per cell (the types of the record
// table's six columns; any other type goes through PxFieldText).
void AppendCell(const PxField& f, const uint8_t* r, std::vector<char>& out) {
    int64_t v = 0;
    switch (f.type) {
        case PxType::Alpha: {
            const char* p = reinterpret_cast<const char*>(r + f.offset);
            out.insert(out.end(), p, p + strnlen(p, f.size));
            return;
        }
        case PxType::Short:
        case PxType::Long:
        case PxType::AutoInc: {
            if (!PxGetInt(f, r, v)) return;
            char b[24];
            const auto res = std::to_chars(b, b + sizeof b, v);
            out.insert(out.end(), b, res.ptr);
            return;
        }
        case PxType::Time: {
            if (!PxGetInt(f, r, v)) return;
            v %= kMsPerDay;
            if (v < 0) v += kMsPerDay;
            const int h = int(v / 3600000), m = int(v / 60000 % 60), sec = int(v / 1000 % 60);
            const char b[8] = {char('0' + h / 10),   char('0' + h % 10),  ':',
                               char('0' + m / 10),   char('0' + m % 10),  ':',
                               char('0' + sec / 10), char('0' + sec % 10)};
            out.insert(out.end(), b, b + 8);
            return;
        }
        default: {
            const std::string t = PxFieldText(f, r);
            out.insert(out.end(), t.begin(), t.end());
            return;
        }
    }
}
}  // namespace

void WriteTextForm(const RecordTable& table, const std::function<void(const char*, size_t)>& sink) {
    static const char kHeader[] = "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n";
    std::vector<char> out;
    constexpr size_t kPiece = 64 * 1024;
    out.reserve(kPiece + 4096);
    out.insert(out.end(), kHeader, kHeader + sizeof kHeader - 1);
    const size_t n = table.RowCount();
    const auto& fields = table.Schema().fields;
    int cols[kRecordColumns];
    for (int c = 0; c < kRecordColumns; ++c) cols[c] = table.ColumnField(c);
    for (size_t r = 0; r < n; ++r) {
        const uint8_t* row = table.RowData(r);
        for (int c = 0; c < kRecordColumns; ++c) {
            if (c) out.push_back('\t');
            if (cols[c] >= 0) AppendCell(fields[size_t(cols[c])], row, out);
        }
        out.push_back('\r');
        out.push_back('\n');
        if (out.size() >= kPiece) {
            sink(out.data(), out.size());
            out.clear();
        }
    }
    if (!out.empty()) sink(out.data(), out.size());
}

std::string TextForm(const RecordTable& table) {
    std::string out;
    WriteTextForm(table, [&out](const char* p, size_t n) { out.append(p, n); });
    return out;
}

namespace {
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
}  // namespace

namespace {
// The table form handed to sink piece by piece.
void WriteParadoxCopy(const RecordTable& table, const std::string& tableName, std::vector<std::string>* notes,
                      const std::function<void(const uint8_t*, size_t)>& sink) {
    const bool hasStructure = !table.Schema().fields.empty();
    const PxSchema schema = hasStructure ? table.Schema() : RecordTable::DefaultSchema();
    const size_t rows = hasStructure ? table.RowCount() : 0;
    PxWriteOptions opt;
    opt.tableName = tableName;
    // The source's language: its code page and sort order (tables older than version 4 name
    // no code page; theirs stays the default).
    if (hasStructure && table.CodePage() != 0) opt.codePage = table.CodePage();
    if (hasStructure) {
        opt.sortOrder = table.SortOrder();
        if (!table.SortOrderName().empty()) opt.sortOrderName = table.SortOrderName();
    }

    std::vector<size_t> blobFields;
    for (size_t i = 0; i < schema.fields.size(); ++i)
        if (PxIsBlob(schema.fields[i].type)) blobFields.push_back(i);

    if (blobFields.empty()) {
        WriteParadoxTo(
            schema, rows, [&](size_t r) { return table.RowData(r); }, opt, sink);
    } else {
        // Values held wholly in the record are copied; values kept in the companion .MB file
        // are not (the copy has no .MB file): those fields are left empty.
        std::vector<size_t> lost(schema.fields.size(), 0);
        std::vector<uint8_t> buf(schema.recordSize);
        WriteParadoxTo(
            schema, rows,
            [&](size_t r) {
                std::memcpy(buf.data(), table.RowData(r), buf.size());
                for (size_t fi : blobFields) {
                    const PxField& f = schema.fields[fi];
                    if (PxIsNull(f, buf.data())) continue;
                    const size_t leader = f.size - 10u;
                    const uint32_t length = Le32(buf.data() + f.offset + leader + 4);
                    if (length > leader) {
                        PxSetNull(f, buf.data());
                        ++lost[fi];
                    }
                }
                return static_cast<const uint8_t*>(buf.data());
            },
            opt, sink);
        if (notes) {
            for (size_t fi : blobFields)
                if (lost[fi])
                    notes->push_back(
                        std::to_string(lost[fi]) + " value(s) of the " + PxTypeName(schema.fields[fi].type) +
                        " field '" + schema.fields[fi].name +
                        "' could not be copied (they are kept in the table's .MB file) and were left empty");
        }
    }
    if (notes && !schema.fields.empty() && schema.Find("Not") == 0)
        notes->push_back("the primary index on field 'Not' was not created");
}
}  // namespace

std::vector<uint8_t> ParadoxCopy(const RecordTable& table, const std::string& tableName,
                                 std::vector<std::string>* notes) {
    std::vector<uint8_t> bytes;
    WriteParadoxCopy(table, tableName, notes,
                     [&bytes](const uint8_t* p, size_t n) { bytes.insert(bytes.end(), p, p + n); });
    return bytes;
}

namespace {
// The reason of a failed system call in the user's words.
std::string Reason(int err) {
    switch (err) {
        case ENOSPC: return std::string("the disk is full (") + std::strerror(err) + ")";
        case EDQUOT: return std::string("the disk quota is used up (") + std::strerror(err) + ")";
        case EROFS: return std::string("the file system is read-only (") + std::strerror(err) + ")";
        case EACCES:
        case EPERM:
            return std::string("permission denied: the folder or file may not be written (") + std::strerror(err) + ")";
        default: return std::strerror(err);
    }
}

std::string DirOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// Follows symbolic links (also dangling ones) to the file that is to be written.
std::string ResolveLinks(const std::string& path) {
    std::string p = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::vector<char> buf(size_t(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = ::readlink(p.c_str(), buf.data(), buf.size() - 1);
        if (n < 0) return p;
        const std::string link(buf.data(), size_t(n));
        p = (!link.empty() && link[0] == '/') ? link : DirOf(p) + "/" + link;
    }
    throw SaveError("Cannot save table to '" + path + "': " + Reason(ELOOP), Reason(ELOOP));
}
}  // namespace

SafeFileWriter::SafeFileWriter(const std::string& path) : path_(path) {
    const std::string fail = "Cannot save table to '" + path + "': ";
    auto refuse = [&](const std::string& reason) { throw SaveError(fail + reason, reason); };
    if (path.empty()) throw SaveError("Cannot save table: no file name", "no file name");
    if (path.back() == '/') refuse("the name is a folder");
    target_ = ResolveLinks(path);
    dir_ = DirOf(target_);
    struct stat st {};
    exists_ = ::stat(target_.c_str(), &st) == 0;
    if (exists_) {
        if (S_ISDIR(st.st_mode)) refuse("a folder has that name");
        if (S_ISFIFO(st.st_mode)) refuse("the name belongs to a named pipe (FIFO), not a file");
        if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) refuse("the name belongs to a device, not a file");
        if (!S_ISREG(st.st_mode)) refuse("the name belongs to something that is not a regular file");
        // Read-only by its permissions (also for a user the system would let write anyway).
        if ((st.st_mode & 0222) == 0 || ::access(target_.c_str(), W_OK) != 0) refuse("the file is read-only");
        mode_ = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode_ = 0666 & ~mask;
    }
    // An unnamed file in the target's folder: nothing is left behind if the program dies.
    // Naming it later goes through /proc/self/fd; without /proc the fallback below is used.
    static const bool haveProc = ::access("/proc/self/fd", F_OK) == 0;
    fd_ = haveProc ? ::open(dir_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode_t(mode_)) : -1;
    if (fd_ < 0) {
        const int err = haveProc ? errno : EOPNOTSUPP;
        if (err != EOPNOTSUPP && err != EISDIR && err != EINVAL && err != ENOSYS) refuse(Reason(err));
        // Fallback: a hidden temporary name, removed on every failure.
        const size_t slash = target_.find_last_of('/');
        const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
        std::string tmpl = dir_ + "/." + base + ".XXXXXX";
        std::vector<char> t(tmpl.begin(), tmpl.end());
        t.push_back('\0');
        fd_ = ::mkostemp(t.data(), O_CLOEXEC);
        if (fd_ < 0) refuse(Reason(errno));
        tmpName_ = t.data();
    }
    buf_.reserve(1 << 20);
}

SafeFileWriter::~SafeFileWriter() {
    if (fd_ >= 0) ::close(fd_);
    if (!tmpName_.empty()) ::unlink(tmpName_.c_str());
}

void SafeFileWriter::Fail(int err) {
    const std::string reason = Reason(err);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!tmpName_.empty()) ::unlink(tmpName_.c_str());
    tmpName_.clear();
    throw SaveError("Cannot save table to '" + path_ + "': " + reason, reason);
}

void SafeFileWriter::Drain() {
    const char* p = buf_.data();
    size_t left = buf_.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail(errno);
        if (n == 0) Fail(ENOSPC);
        p += n;
        left -= size_t(n);
    }
    buf_.clear();
}

void SafeFileWriter::Write(const void* data, size_t size) {
    if (fd_ < 0) throw SaveError("Cannot save table to '" + path_ + "': the file is closed", "the file is closed");
    const char* p = static_cast<const char*>(data);
    if (buf_.size() + size > buf_.capacity()) Drain();
    if (size >= buf_.capacity()) {
        buf_.assign(p, p + size);
        Drain();
        return;
    }
    buf_.insert(buf_.end(), p, p + size);
}

void SafeFileWriter::Commit() {
    if (fd_ < 0) throw SaveError("Cannot save table to '" + path_ + "': the file is closed", "the file is closed");
    Drain();
    if (::fchmod(fd_, mode_t(mode_)) != 0) Fail(errno);
    if (::fsync(fd_) != 0) Fail(errno);
    if (tmpName_.empty()) {
        // Give the unnamed file a name: the target itself when it does not exist yet,
        // otherwise a temporary name that is renamed over the target at once.
        const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
        auto linkTo = [&](const std::string& name) {
            if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
            const int err = errno;
            if (err == ENOENT && ::linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
            return err;
        };
        int err = exists_ ? EEXIST : linkTo(target_);
        if (err == EEXIST) {
            const size_t slash = target_.find_last_of('/');
            const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
            for (int i = 0; i < 100; ++i) {
                const std::string name =
                    dir_ + "/." + base + "." + std::to_string(::getpid()) + "-" + std::to_string(i);
                err = linkTo(name);
                if (err == 0) {
                    if (::rename(name.c_str(), target_.c_str()) != 0) {
                        err = errno;
                        ::unlink(name.c_str());
                    }
                    break;
                }
                if (err != EEXIST) break;
            }
        }
        if (err != 0) Fail(err);
    } else {
        if (::rename(tmpName_.c_str(), target_.c_str()) != 0) Fail(errno);
        tmpName_.clear();
    }
    if (::close(fd_) != 0) {
        fd_ = -1;
        Fail(errno);
    }
    fd_ = -1;
    // The new name must survive a power cut too.
    const int dfd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

void WriteFileAtomically(const std::string& path, const void* data, size_t size) {
    SafeFileWriter w(path);
    w.Write(data, size);
    w.Commit();
}

void WriteEmptyRecordTable(const std::string& path) {
    PxWriteOptions opt;
    opt.tableName = "Ms35fdb.DB";
    const std::vector<uint8_t> bytes = WriteParadox(
        RecordTable::DefaultSchema(), 0, [](size_t) -> const uint8_t* { return nullptr; }, opt);
    WriteFileAtomically(path, bytes.data(), bytes.size());
}

SaveOutcome SaveTable(const RecordTable& table, const std::string& path) {
    SaveOutcome out;
    out.form = SaveFormFor(path);
    out.rows = table.RowCount();
    SafeFileWriter w(path);
    if (out.form == SaveForm::Text) {
        WriteTextForm(table, [&w](const char* p, size_t n) { w.Write(p, n); });
    } else {
        const size_t slash = path.find_last_of('/');
        try {
            WriteParadoxCopy(table, slash == std::string::npos ? path : path.substr(slash + 1), &out.notes,
                             [&w](const uint8_t* p, size_t n) { w.Write(p, n); });
        } catch (const ParadoxError& e) {
            throw SaveError("Cannot save table to '" + path + "': " + e.what(), e.what());
        }
    }
    w.Commit();
    return out;
}
