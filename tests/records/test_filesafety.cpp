// Open and Save at their edges, on real files in scratch folders: links, read-only files,
// FIFOs and devices, killed saves, huge sparse files, and the language a copy carries.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "records/datafiles.h"
#include "records/paradox.h"
#include "records/recorder.h"
#include "records_fixture.h"

namespace {
void AddRows(RecordTable& t, int n) {
    Reading r;
    r.ValueText = "1.234";
    r.AcDcText = "DC";
    r.SymbolText = "+F";
    r.AutoText = "AUTO";
    r.ValueNum = 1.234f;
    int32_t no = 1;
    for (int i = 0; i < n; ++i) AppendStampedRow(t, r, EncodeTime(10, 0, i % 60), no);
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no error>";
}

QStringList FolderEntries(const ScratchFolder& s) {
    return QDir(QString::fromStdString(s.Folder())).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

bool IsParadox(const std::string& path) {
    RecordTable t;
    try {
        t.Open(path);
    } catch (...) {
        return false;
    }
    return true;
}
}  // namespace

// Saving onto the record table's own name (any case of ".db") writes a table, never text.
TEST(SaveTarget, AnyCaseOfDbGivesATable) {
    for (const char* name : {"Ms35fdb.DB", "copy.Db", "copy.dB", "copy.db"}) {
        SCOPED_TRACE(name);
        ScratchFolder s;
        RecordTable t;
        t.Open(s.Copy("paradox/Ms35fdb.DB", "Ms35fdb.DB"));
        AddRows(t, 5);
        const std::string path = s.Path(name);
        EXPECT_EQ(SaveTable(t, path).form, SaveForm::Paradox);
        t.Close();
        RecordTable back;
        back.Open(path);
        EXPECT_EQ(back.RowCount(), 5u);
    }
}

TEST(SaveTarget, ALinkIsFollowedAndKept) {
    ScratchFolder s;
    RecordTable t;
    t.Open(s.Copy("paradox/Ms35fdb.DB", "Ms35fdb.DB"));
    AddRows(t, 3);
    ASSERT_EQ(::mkdir(s.Path("real").c_str(), 0755), 0);
    WriteFileText(s.Path("real/data.txt"), "old");
    struct Case {
        const char* link;
        const char* target;  // what the link points to
        const char* written;
    };
    const Case cases[] = {
        {"rel.txt", "real/data.txt", "real/data.txt"},
        {"abs.txt", "", "real/data.txt"},                  // absolute target
        {"dangling.txt", "real/new.txt", "real/new.txt"},  // target does not exist yet
        {"chain.txt", "rel.txt", "real/data.txt"},         // a link to a link
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        const std::string target = *c.target ? c.target : s.Path("real/data.txt");
        ASSERT_EQ(::symlink(target.c_str(), s.Path(c.link).c_str()), 0);
        SaveTable(t, s.Path(c.link));
        struct stat st {};
        ASSERT_EQ(::lstat(s.Path(c.link).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
        EXPECT_EQ(ReadFileText(s.Path(c.written)).substr(0, 6), "No\tTim");
    }
}

// Targets that must not be replaced are refused before anything is written; the reason is
// said; nothing is left in the folder.
TEST(SaveTarget, ReadOnlyFifoDeviceAndFolderAreRefused) {
    ScratchFolder s;
    RecordTable t;
    t.Open(s.Copy("paradox/Ms35fdb.DB", "Ms35fdb.DB"));
    AddRows(t, 3);
    WriteFileText(s.Path("ro.txt"), "keep me");
    ASSERT_EQ(::chmod(s.Path("ro.txt").c_str(), 0444), 0);
    ASSERT_EQ(::mkfifo(s.Path("pipe.DB").c_str(), 0644), 0);
    ASSERT_EQ(::mkdir(s.Path("dir.txt").c_str(), 0755), 0);
    const QStringList before = FolderEntries(s);
    struct Case {
        std::string path;
        const char* reason;
    };
    const Case cases[] = {
        {s.Path("ro.txt"), "read-only"},
        {s.Path("pipe.DB"), "named pipe"},
        {"/dev/null", "device"},
        {s.Path("dir.txt"), "folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        try {
            SaveTable(t, c.path);
            ADD_FAILURE() << "saved";
        } catch (const SaveError& e) {
            EXPECT_NE(std::string(e.what()).find(c.path), std::string::npos) << e.what();
            EXPECT_NE(e.Reason().find(c.reason), std::string::npos) << e.Reason();
        }
    }
    EXPECT_EQ(ReadFileText(s.Path("ro.txt")), "keep me");
    EXPECT_EQ(FolderEntries(s), before);
    EXPECT_EQ(TextSaveFailedMessage("/a/b.txt", "the file is read-only"),
              "Could not save table to specified file: /a/b.txt\nthe file is read-only");
}

// A save that fails for lack of room, or is killed midway, leaves the old file and nothing else.
TEST(SaveTarget, FailedOrKilledSaveLeavesTheOldFileAndNothingElse) {
    ScratchFolder s;
    RecordTable t;
    t.Open(s.Copy("paradox/Ms35fdb.DB", "Ms35fdb.DB"));
    AddRows(t, 300000);
    for (const char* name : {"old.txt", "old.db"}) {
        SCOPED_TRACE(name);
        WriteFileText(s.Path(name), "the old file");
    }
    const QStringList before = FolderEntries(s);
    // Out of room: the file size limit stops the write.
    {
        struct rlimit old {};
        getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit small = old;
        small.rlim_cur = 64 * 1024;
        auto h = signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        std::string reason;
        try {
            SaveTable(t, s.Path("old.txt"));
        } catch (const SaveError& e) {
            reason = e.Reason();
        }
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, h);
        EXPECT_NE(reason.find("too large"), std::string::npos) << reason;
    }
    // Killed at different moments of the save.
    for (int trial = 0; trial < 8; ++trial) {
        const pid_t pid = fork();
        if (pid == 0) {
            for (;;) SaveTable(t, s.Path(trial % 2 ? "old.db" : "old.txt"));
        }
        ::usleep(useconds_t(20000 + trial * 15000));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    // Each file is either the old one or a complete new one; no temporary file is left.
    EXPECT_EQ(FolderEntries(s), before);
    const std::string txt = ReadFileText(s.Path("old.txt"));
    EXPECT_TRUE(txt == "the old file" || txt.size() > 300000u * 20) << txt.size();
    const std::string db = ReadFileText(s.Path("old.db"));
    EXPECT_TRUE(db == "the old file" || IsParadox(s.Path("old.db"))) << db.size();
}

// ---- opening at the edges ----

TEST(OpenEdges, FifoDeviceAndFolderAreRefusedAtOnce) {
    ScratchFolder s;
    ASSERT_EQ(::mkfifo(s.Path("x.DB").c_str(), 0644), 0);
    ASSERT_EQ(::mkdir(s.Path("d.DB").c_str(), 0755), 0);
    RecordTable t;
    t.Open(s.Copy("paradox/Ms35fdb.DB", "Ms35fdb.DB"));
    AddRows(t, 2);
    struct Case {
        std::string path;
        const char* reason;
    };
    // A FIFO without a writer would block a plain open(): this test would hang.
    const Case cases[] = {{s.Path("x.DB"), "named pipe"}, {"/dev/zero", "device"}, {s.Path("d.DB"), "folder"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string msg = ErrorOf([&] { t.Open(c.path); });
        EXPECT_NE(msg.find(c.reason), std::string::npos) << msg;
        EXPECT_TRUE(t.IsOpen());
        EXPECT_EQ(t.RowCount(), 2u);
    }
}

// A huge sparse file is judged by its header: nothing beyond what the header describes is read
// or held.
TEST(OpenEdges, HugeSparseFilesAreJudgedByTheirHeader) {
    ScratchFolder s;
    std::vector<uint8_t> good;
    {
        RecordTable t;
        t.Open(s.Copy("paradox/Ms35fdb.DB", "Ms35fdb.DB"));
        AddRows(t, 10);
        good = ParadoxCopy(t, "big.db", nullptr);
    }
    struct Case {
        const char* what;
        size_t at;
        uint8_t byte;
        const char* reason;
    };
    const Case cases[] = {
        {"bad version byte", 0x39, 0x42, "unknown version byte"},
        {"header counts many records", 0x09, 0x7F, "header counts"},
        {"good table, then a hole", 0, good[0], ""},
    };
    struct rusage ru {};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = s.Path("big.DB");
        std::vector<uint8_t> bytes = good;
        bytes[c.at] = c.byte;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        ASSERT_EQ(::ftruncate(fd, off_t(3) << 30), 0);  // 3 GB, sparse
        ::close(fd);
        RecordTable t;
        const std::string msg = ErrorOf([&] { t.Open(path); });
        if (*c.reason) {
            EXPECT_NE(msg.find(c.reason), std::string::npos) << msg;
        } else {
            EXPECT_EQ(msg, "<no error>");
            EXPECT_EQ(t.RowCount(), 10u);
        }
    }
    getrusage(RUSAGE_SELF, &ru);
    EXPECT_LT(ru.ru_maxrss, 400L * 1024) << "KB at peak";  // far below the 3 GB of the file
}

// ---- faithful copies ----

TEST(FaithfulCopy, CodePageAndSortOrderAreCarried) {
    // The fixtures declare them as their software wrote them.
    {
        const std::string path = std::string(MS42K_TEST_DATA) + "/paradox/country.db";
        const std::string bytes = ReadFileText(path);
        const PxTable c = ReadParadox(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        EXPECT_EQ(c.codePage, 850);
        EXPECT_EQ(c.sortOrderName, "intl850");
        EXPECT_EQ(c.sortOrder, 0x54);
    }
    // A record table in code page 850 with the "intl850" order saves as a copy that says so.
    ScratchFolder s;
    PxWriteOptions o;
    o.tableName = "cp850.db";
    o.codePage = 850;
    o.sortOrder = 0x54;
    o.sortOrderName = "intl850";
    const std::vector<uint8_t> src = WriteParadox(
        RecordTable::DefaultSchema(), 0, [](size_t) -> const uint8_t* { return nullptr; }, o);
    WriteFileText(s.Path("cp850.db"), std::string(src.begin(), src.end()));
    RecordTable t;
    t.Open(s.Path("cp850.db"));
    AddRows(t, 2);  // "+F": the micro sign of the segment font, a byte above 0x7F in other tables
    SaveTable(t, s.Path("copy.db"));
    const std::string out = ReadFileText(s.Path("copy.db"));
    const PxTable back = ReadParadox(reinterpret_cast<const uint8_t*>(out.data()), out.size());
    EXPECT_EQ(back.codePage, 850);
    EXPECT_EQ(back.sortOrder, 0x54);
    EXPECT_EQ(back.sortOrderName, "intl850");
    EXPECT_EQ(back.rows.size(), 2u);
}

TEST(FaithfulCopy, TimestampsOutOfRangeAndBeforeYearOne) {
    PxSchema s;
    s.Add("T", PxType::Timestamp, 8);
    s.Add("D", PxType::Date, 4);
    std::vector<uint8_t> r(s.recordSize);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double v : {1e300, -1e300, nan, inf, -inf, 9.3e18}) {
        PxSetDouble(s.fields[0], r.data(), v);
        EXPECT_EQ(PxFieldText(s.fields[0], r.data()), "(invalid timestamp)") << v;
    }
    // A timestamp on a day and that day as a date print the same calendar day, also before
    // year 1 (day numbers at or below 0).
    for (int64_t day : {int64_t(1), int64_t(0), int64_t(-1), int64_t(-400), int64_t(738000)}) {
        SCOPED_TRACE(day);
        PxSetDouble(s.fields[0], r.data(), double(day * kMsPerDay + 3723000));  // 01:02:03
        PxSetInt(s.fields[1], r.data(), day);
        const std::string date = PxFieldText(s.fields[1], r.data());
        EXPECT_EQ(PxFieldText(s.fields[0], r.data()), date + " 01:02:03");
    }
    PxSetDouble(s.fields[0], r.data(), -1.0);  // one ms before day 0
    PxSetInt(s.fields[1], r.data(), -1);
    EXPECT_EQ(PxFieldText(s.fields[0], r.data()), PxFieldText(s.fields[1], r.data()) + " 23:59:59");
}
