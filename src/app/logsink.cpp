#include "app/logsink.h"

#include <QDir>
#include <QFileInfo>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "records/csvwriter.h"
#include "records/datafiles.h"
#include "records/recordtable.h"

namespace {
constexpr const char* kTextHeader = "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n";
// The db form is rewritten this often while rows come in.
constexpr qint64 kDbRewriteMs = 10000;
// In text and csv the table only passes rows on; it is emptied now and then to keep the
// memory of a long run small.
constexpr size_t kRowsKeptInTable = 4096;

std::string Shown(const std::string& path) { return path.empty() ? "standard output" : path; }

std::string Rows(size_t n) { return std::to_string(n) + (n == 1 ? " row" : " rows"); }

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
}  // namespace

std::string TextRowLine(const RecordTable& table, size_t row) {
    std::string line;
    for (int c = 0; c < kRecordColumns; ++c) {
        if (c) line += '\t';
        line += table.CellText(row, c);
    }
    line += "\r\n";
    return line;
}

std::vector<std::string> FallbackFolders(const std::string& out) {
    std::vector<std::string> folders;
    if (!out.empty()) folders.push_back(QFileInfo(QString::fromLocal8Bit(out.c_str())).absolutePath().toStdString());
    folders.push_back(QDir::tempPath().toStdString());
    folders.push_back(QDir::homePath().toStdString());
    folders.push_back(QDir::currentPath().toStdString());
    return folders;
}

std::string WriteFallback(const std::string& out, const std::string& bytes, const std::vector<std::string>& folders,
                          std::string& why) {
    const std::string name = BaseName(out);
    const std::string ext = FileExtension(name);
    const std::string stem = name.substr(0, name.size() - ext.size());
    const std::string stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString();
    why.clear();
    for (const std::string& folder : folders) {
        std::string path = folder + "/" + stem + ".unwritten-" + stamp + ext;
        for (int n = 2; QFileInfo::exists(QString::fromLocal8Bit(path.c_str())); ++n)
            path = folder + "/" + stem + ".unwritten-" + stamp + "-" + std::to_string(n) + ext;
        try {
            WriteFileAtomically(path, bytes.data(), bytes.size());
            return path;
        } catch (const std::exception& e) {
            if (!why.empty()) why += "; ";
            why += e.what();
        }
    }
    return {};
}

// ---------------------------------------------------------------------------------------------

LogLineWriter::LogLineWriter(std::string path, std::string header, LogSay say)
    : path_(std::move(path)), header_(std::move(header)), say_(std::move(say)) {}

LogLineWriter::~LogLineWriter() {
    if (fd_ > STDERR_FILENO) ::close(fd_);
}

bool LogLineWriter::Open(std::string& why) {
    if (path_.empty()) {
        fd_ = STDOUT_FILENO;
    } else {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            why = "cannot write " + path_ + ": " + std::strerror(errno);
            return false;
        }
    }
    struct stat st {};
    regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    committed_ = regular_ ? ::lseek(fd_, 0, SEEK_CUR) : 0;
    pending_.push_back({header_, 0, true});
    WritePending();
    return true;
}

size_t LogLineWriter::PendingRows() const {
    size_t n = 0;
    for (const Line& l : pending_) n += l.header ? 0 : 1;
    return n;
}

void LogLineWriter::AddRow(std::string line) {
    pending_.push_back({std::move(line), 0, false});
    WritePending();
}

void LogLineWriter::Retry() {
    if (!pending_.empty() && !readerGone_) WritePending();
}

void LogLineWriter::Fail(const std::string& why) {
    if (why != failure_) say_("cannot write to " + Shown(path_) + ": " + why + "; the rows are kept and retried");
    failure_ = why;
}

// After the file was removed (or its folder): a new file in its place, when there can be one.
// Empty when it is open, else the reason.
std::string LogLineWriter::Reopen() {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return std::strerror(errno);
    fd_ = fd;
    struct stat st {};
    regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    committed_ = regular_ ? off_t(st.st_size) : 0;
    if (regular_ && st.st_size == 0) pending_.push_front({header_, 0, true});
    return {};
}

void LogLineWriter::WritePending() {
    if (fd_ < 0) {
        const std::string why = Reopen();
        if (!why.empty()) {
            Fail("the file was removed and cannot be made again: " + why);
            return;
        }
    }
    const uint64_t before = rowsWritten_;
    while (!pending_.empty()) {
        Line& l = pending_.front();
        const ssize_t n = ::write(fd_, l.text.data() + l.written, l.text.size() - l.written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            if (err == EPIPE && path_.empty()) {
                readerGone_ = true;
                return;
            }
            Fail(std::strerror(err));
            return;
        }
        l.written += size_t(n);
        if (l.written < l.text.size()) continue;
        if (regular_) {
            // A file removed while it is written takes the rows with it: the line is not
            // counted as written, and the file is made anew in its place when it can be.
            struct stat st {};
            if (!path_.empty() && ::fstat(fd_, &st) == 0 && st.st_nlink == 0) {
                l.written = 0;
                ::close(fd_);
                fd_ = -1;
                const std::string why = Reopen();
                if (!why.empty()) {
                    Fail("the file was removed and cannot be made again: " + why);
                    return;
                }
                say_(path_ + " was removed; writing to a new file of that name");
                continue;
            }
            committed_ += off_t(l.text.size());
        }
        if (!l.header) ++rowsWritten_;
        pending_.pop_front();
    }
    if (!failure_.empty()) {
        say_("writing to " + Shown(path_) + " again; " + Rows(size_t(rowsWritten_ - before)) +
             " kept meanwhile are written");
        failure_.clear();
    }
}

size_t LogLineWriter::Finish() {
    Retry();
    if (readerGone_) {
        const size_t lost = PendingRows();
        if (lost) say_(Rows(lost) + " recorded after that could not be written");
        pending_.clear();
        return 0;
    }
    const size_t left = PendingRows();
    if (left == 0) return 0;
    // A line written in part is cut off, so that the file ends with whole rows (not on
    // standard output: what it is and where it stands is the caller's).
    if (!path_.empty() && fd_ >= 0 && regular_ && !pending_.empty() && pending_.front().written > 0) {
        if (::ftruncate(fd_, committed_) == 0) pending_.front().written = 0;
    }
    std::string bytes = header_;
    for (const Line& l : pending_)
        if (!l.header) bytes += l.text;
    std::string why;
    const std::string fallback =
        WriteFallback(path_.empty() ? std::string(header_ == kTextHeader ? "ms42k-log.txt" : "ms42k-log.csv") : path_,
                      bytes, FallbackFolders(path_), why);
    if (!fallback.empty()) {
        say_(Rows(left) + " could not be written to " + Shown(path_) + "; they are in " + fallback);
    } else {
        say_(Rows(left) + " could not be written to " + Shown(path_) + " nor to a fallback file (" + why +
             "); they follow here");
        std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    }
    pending_.clear();
    return left;
}

// ---------------------------------------------------------------------------------------------

LogSink::LogSink(const LogOptions& options, RecordTable& table, LogSay say)
    : opt_(options), table_(table), say_(std::move(say)) {}

LogSink::~LogSink() = default;

bool LogSink::Open(std::string& why) {
    if (opt_.format == LogFormat::Db) {
        sinceDbSave_.start();
        return true;
    }
    const std::string header = opt_.format == LogFormat::Csv ? std::string(kCsvHeader) + "\r\n" : kTextHeader;
    lines_ = std::make_unique<LogLineWriter>(opt_.out, header, say_);
    return lines_->Open(why);
}

void LogSink::RowRecorded(const QDateTime& at) {
    ++rows_;
    if (opt_.format == LogFormat::Db) {
        dbDirty_ = true;
        return;
    }
    const size_t row = table_.RowCount() - 1;
    if (opt_.format == LogFormat::Csv) {
        CsvRow r;
        r.at = at;
        r.no = table_.CellText(row, ColNo);
        r.valueText = table_.CellText(row, ColValue);
        r.symbolText = table_.CellText(row, ColUnit);
        r.acDcText = table_.CellText(row, ColDcAc);
        r.autoText = table_.CellText(row, ColAuto);
        lines_->AddRow(CsvLine(r));
    } else {
        lines_->AddRow(TextRowLine(table_, row));
    }
    if (table_.RowCount() >= kRowsKeptInTable) table_.Empty();
}

bool LogSink::SaveDb() {
    try {
        std::vector<std::string> notes;
        const std::vector<uint8_t> bytes = ParadoxCopy(table_, BaseName(opt_.out), &notes);
        WriteFileAtomically(opt_.out, bytes.data(), bytes.size());
    } catch (const std::exception& e) {
        if (!dbFailing_)
            say_(std::string(e.what()) + "; the " + Rows(table_.RowCount()) +
                 " are kept and the file is written again in 10 s");
        dbFailing_ = true;
        sinceDbSave_.start();
        return false;
    }
    if (dbFailing_) say_(opt_.out + " is written again, with all " + Rows(table_.RowCount()));
    dbFailing_ = false;
    dbDirty_ = false;
    sinceDbSave_.start();
    return true;
}

void LogSink::Tick() {
    if (lines_) lines_->Retry();
    if (opt_.format == LogFormat::Db && dbDirty_ && sinceDbSave_.elapsed() >= kDbRewriteMs) SaveDb();
}

int LogSink::Finish(uint64_t frames) {
    if (opt_.format == LogFormat::Db) {
        if (SaveDb()) {
            say_(Rows(table_.RowCount()) + " from " + std::to_string(frames) + " frames saved to " + opt_.out);
            return 0;
        }
        std::string why;
        std::vector<std::string> notes;
        const std::string name = BaseName(opt_.out);
        std::string fallback;
        try {
            const std::vector<uint8_t> bytes = ParadoxCopy(table_, name, &notes);
            fallback = WriteFallback(opt_.out, std::string(bytes.begin(), bytes.end()), FallbackFolders(opt_.out), why);
        } catch (const std::exception& e) {
            why = e.what();
        }
        if (!fallback.empty())
            say_(Rows(table_.RowCount()) + " could not be written to " + opt_.out + "; they are in " + fallback);
        else
            say_(Rows(table_.RowCount()) + " could not be written to " + opt_.out + " nor to a fallback file: " + why);
        return 1;
    }
    const size_t left = lines_->Finish();
    if (!opt_.out.empty())
        say_(Rows(size_t(lines_->RowsWritten())) + " from " + std::to_string(frames) + " frames written to " +
             opt_.out);
    return left ? 1 : 0;
}

std::string ProgressText(uint64_t frames, int32_t rows, int64_t elapsedMs, const std::string& last) {
    const int64_t s = elapsedMs / 1000;
    char b[96];
    std::snprintf(b, sizeof b, "frames %llu  rows %d  elapsed %lld:%02lld:%02lld  ",
                  static_cast<unsigned long long>(frames), rows, static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
    return b + last;
}
