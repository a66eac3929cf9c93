#include "records/journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {
constexpr char kMagic[16] = {'M', 'S', '4', '2', 'K', '-', 'J', 'O', 'U', 'R', 'N', 'A', 'L', ' ', '1', '\n'};
constexpr size_t kFlushBytes = 64 * 1024;

uint16_t Fletcher16(const uint8_t* p, size_t n) {
    uint32_t a = 0, b = 0;
    for (size_t i = 0; i < n; ++i) {
        a = (a + p[i]) % 255;
        b = (b + a) % 255;
    }
    return uint16_t((b << 8) | a);
}

void PutText(uint8_t*& p, const std::string& s) {
    const size_t n = std::min<size_t>(s.size(), 255);
    *p++ = uint8_t(n);
    std::memcpy(p, s.data(), n);
    p += n;
}

bool GetText(const uint8_t*& p, const uint8_t* end, std::string& s) {
    if (p >= end) return false;
    const size_t n = *p++;
    if (size_t(end - p) < n) return false;
    s.assign(reinterpret_cast<const char*>(p), n);
    p += n;
    return true;
}

std::string Err(const std::string& what, int err) { return what + ": " + std::strerror(err); }

bool WriteAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

// Decodes one record at p; false when it is torn or damaged.
bool DecodeRecord(const uint8_t* p, const uint8_t* end, RecordRow& row, size_t& used) {
    if (p >= end) return false;
    const size_t n = *p;
    if (n < 21 || size_t(end - p) < 1 + n + 2) return false;
    const uint8_t* body = p + 1;
    const uint16_t sum = uint16_t(body[n] | (body[n + 1] << 8));
    if (Fletcher16(body, n) != sum) return false;
    const uint8_t* q = body;
    const uint8_t* qend = body + n;
    std::memcpy(&row.No, q, 4);
    std::memcpy(&row.Time, q + 4, 8);
    std::memcpy(&row.Nval, q + 12, 4);
    q += 16;
    if (!GetText(q, qend, row.DcAc) || !GetText(q, qend, row.Value) || !GetText(q, qend, row.Unit) ||
        !GetText(q, qend, row.Auto))
        return false;
    if (q != qend) return false;
    used = 1 + n + 2;
    return true;
}
}  // namespace

std::string RecordJournal::PathFor(const std::string& recordTablePath) { return recordTablePath + ".journal"; }

RecordJournal::RecordJournal(std::string path) : path_(std::move(path)) { buf_.reserve(kFlushBytes + 1024); }

RecordJournal::~RecordJournal() {
    try {
        Sync();
    } catch (...) {
    }
    if (fd_ >= 0) ::close(fd_);
}

double RecordJournal::Seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void RecordJournal::OpenFile(bool fresh) {
    const int flags = O_RDWR | O_CREAT | O_CLOEXEC | (fresh ? O_TRUNC : 0);
    const int fd = ::open(path_.c_str(), flags, 0644);
    if (fd < 0) throw JournalError(Err("Cannot write the recovery journal '" + path_ + "'", errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        throw JournalError("Cannot write the recovery journal '" + path_ + "': another program is using it");
    }
    fd_ = fd;
}

void RecordJournal::Append(const RecordRow& row, double now) {
    if (fd_ < 0) {
        OpenFile(true);
        uint8_t head[kHeadSize];
        std::memcpy(head, kMagic, 16);
        std::memcpy(head + 16, &now, 8);
        buf_.insert(buf_.begin(), head, head + kHeadSize);
        lastFlush_ = lastSync_ = Seconds();
    }
    const size_t at = buf_.size();
    buf_.resize(at + 1 + 16 + 4 + 4 * 255 + 2);
    uint8_t* start = buf_.data() + at;
    uint8_t* p = start + 1;
    std::memcpy(p, &row.No, 4);
    std::memcpy(p + 4, &row.Time, 8);
    std::memcpy(p + 12, &row.Nval, 4);
    p += 16;
    PutText(p, row.DcAc);
    PutText(p, row.Value);
    PutText(p, row.Unit);
    PutText(p, row.Auto);
    const size_t n = size_t(p - (start + 1));
    if (n > 255) {
        // Texts that long do not come from the meter: cut the value so that the record fits.
        buf_.resize(at);
        RecordRow cut = row;
        cut.Value.resize(std::min<size_t>(cut.Value.size(), 64));
        cut.Unit.resize(std::min<size_t>(cut.Unit.size(), 64));
        cut.DcAc.resize(std::min<size_t>(cut.DcAc.size(), 32));
        cut.Auto.resize(std::min<size_t>(cut.Auto.size(), 32));
        Append(cut, now);
        return;
    }
    *start = uint8_t(n);
    const uint16_t sum = Fletcher16(start + 1, n);
    p[0] = uint8_t(sum);
    p[1] = uint8_t(sum >> 8);
    buf_.resize(at + 1 + n + 2);
    ++rows_;
    if (buf_.size() >= kFlushBytes || Seconds() - lastFlush_ >= kFlushSeconds) Tick();
}

void RecordJournal::WriteOut() {
    lastFlush_ = Seconds();
    if (buf_.empty() || fd_ < 0) return;
    const bool ok = WriteAll(fd_, buf_.data(), buf_.size());
    const int err = errno;
    buf_.clear();
    unsynced_ = true;
    if (!ok) throw JournalError(Err("Cannot write the recovery journal '" + path_ + "'", err));
}

void RecordJournal::Tick() {
    // Called about once a second: whatever waits in the buffer goes out now, so no row waits
    // longer than about a second even when no further row comes.
    if (!buf_.empty()) WriteOut();
    if (unsynced_ && Seconds() - lastSync_ >= kSyncSeconds) Sync();
}

void RecordJournal::Flush() { WriteOut(); }

void RecordJournal::Sync() {
    WriteOut();
    lastSync_ = Seconds();
    if (fd_ >= 0 && unsynced_) {
        unsynced_ = false;
        if (::fdatasync(fd_) != 0) throw JournalError(Err("Cannot sync the recovery journal '" + path_ + "'", errno));
    }
}

void RecordJournal::Clear() {
    buf_.clear();
    rows_ = 0;
    unsynced_ = false;
    if (fd_ >= 0) {
        ::unlink(path_.c_str());
        ::close(fd_);
        fd_ = -1;
    } else {
        // A journal left by an earlier run whose rows were restored or turned down.
        ::unlink(path_.c_str());
    }
}

void RecordJournal::Continue() {
    if (fd_ >= 0) return;
    const Summary s = Read(path_, nullptr);
    OpenFile(false);
    if (::ftruncate(fd_, off_t(s.goodBytes)) != 0 || ::lseek(fd_, 0, SEEK_END) < 0) {
        const int err = errno;
        ::close(fd_);
        fd_ = -1;
        throw JournalError(Err("Cannot continue the recovery journal '" + path_ + "'", err));
    }
    rows_ = s.rows;
    lastFlush_ = lastSync_ = Seconds();
}

std::string RecordJournal::KeepAside() {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) return std::string();
    // "<table>.unsaved-YYYYMMDD-HHMMSS.journal", numbered when that name is taken.
    const std::string base = path_.substr(0, path_.size() - std::string(".journal").size());
    char stamp[32];
    const time_t t = st.st_mtime;
    struct tm tmv {};
    localtime_r(&t, &tmv);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tmv);
    std::string target;
    for (int i = 0; i < 1000; ++i) {
        target = base + ".unsaved-" + stamp + (i ? "-" + std::to_string(i) : std::string()) + ".journal";
        if (::link(path_.c_str(), target.c_str()) == 0) break;
        if (errno != EEXIST) throw JournalError(Err("Cannot keep the recovery journal '" + path_ + "'", errno));
        target.clear();
    }
    if (target.empty()) throw JournalError("Cannot keep the recovery journal '" + path_ + "': no free name");
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    ::unlink(path_.c_str());
    buf_.clear();
    rows_ = 0;
    return target;
}

bool RecordJournal::InUse(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return busy;
}

bool RecordJournal::LooksLikeJournal(const uint8_t* data, size_t size) {
    return size >= 16 && std::memcmp(data, kMagic, 16) == 0;
}

RecordJournal::Summary RecordJournal::Read(const std::string& path, const std::function<void(const RecordRow&)>& each) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw JournalError(Err("Cannot read the recovery journal '" + path + "'", errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw JournalError(Err("Cannot read the recovery journal '" + path + "'", errno));
    if (!S_ISREG(st.st_mode)) throw JournalError("Cannot read the recovery journal '" + path + "': not a regular file");
    Summary s;
    std::vector<uint8_t> buf(1 << 20);
    size_t have = 0;
    uint64_t consumed = 0;
    bool headDone = false, eof = false;
    RecordRow row;
    while (true) {
        if (!eof && have < buf.size()) {
            const ssize_t n = ::read(fd, buf.data() + have, buf.size() - have);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw JournalError(Err("Cannot read the recovery journal '" + path + "'", errno));
            if (n == 0) eof = true;
            have += size_t(n);
        }
        size_t pos = 0;
        if (!headDone) {
            if (have < kHeadSize) {
                if (eof) throw JournalError("'" + path + "' is not a recovery journal of this program (too short)");
                continue;
            }
            if (!LooksLikeJournal(buf.data(), have))
                throw JournalError("'" + path + "' is not a recovery journal of this program");
            std::memcpy(&s.firstDateTime, buf.data() + 16, 8);
            pos = kHeadSize;
            headDone = true;
            s.goodBytes = kHeadSize;
        }
        size_t used = 0;
        bool torn = false;
        while (pos < have) {
            if (!DecodeRecord(buf.data() + pos, buf.data() + have, row, used)) {
                torn = true;
                break;
            }
            if (each) each(row);
            ++s.rows;
            pos += used;
            s.goodBytes = consumed + pos;
        }
        // Keep the unread tail at the front of the buffer.
        std::memmove(buf.data(), buf.data() + pos, have - pos);
        consumed += pos;
        have -= pos;
        if (eof) break;
        if (torn && have == buf.size()) break;  // a damaged record, not a short read
    }
    return s;
}

std::string JournalRestoreQuestion(size_t rows, double firstDateTime) {
    // Date-time: days since 1899-12-30, local time.
    const double days = std::floor(firstDateTime);
    const int64_t ms = TimeOfDayMs(firstDateTime);
    const int64_t unixDays = int64_t(days) - 25569;
    // Civil date of a day count since 1970-01-01.
    int64_t z = unixDays + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    char date[32], time[16];
    std::snprintf(date, sizeof date, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", int(ms / 3600000), int(ms / 60000 % 60), int(ms / 1000 % 60));
    return std::to_string(rows) + " readings recorded on " + date + " from " + time + " were not saved. Restore them?";
}
