// The recovery journal on real files: rows come back as written, a torn tail is dropped, a
// journal survives kill -9 up to its last second, and a kept journal opens as a table.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "records/datafiles.h"
#include "records/journal.h"
#include "records_fixture.h"

namespace {
RecordRow Row(int no, const std::string& value, const std::string& acdc = "DC", const std::string& unit = " V",
              const std::string& autoText = "AUTO") {
    RecordRow r;
    r.No = no;
    r.Time = EncodeTime(12, 0, no % 60, 250);
    r.DcAc = acdc;
    r.Value = value;
    r.Unit = unit;
    r.Auto = autoText;
    r.Nval = float(no) * 0.5f;
    return r;
}

std::vector<RecordRow> ReadAllRows(const std::string& path, RecordJournal::Summary* sum = nullptr) {
    std::vector<RecordRow> rows;
    const auto s = RecordJournal::Read(path, [&](const RecordRow& r) { rows.push_back(r); });
    if (sum) *sum = s;
    return rows;
}

void ExpectSame(const RecordRow& a, const RecordRow& b) {
    EXPECT_EQ(a.No, b.No);
    EXPECT_EQ(a.Time, b.Time);
    EXPECT_EQ(a.DcAc, b.DcAc);
    EXPECT_EQ(a.Value, b.Value);
    EXPECT_EQ(a.Unit, b.Unit);
    EXPECT_EQ(a.Auto, b.Auto);
    EXPECT_EQ(a.Nval, b.Nval);
}

off_t SizeOf(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_size : -1;
}
}  // namespace

TEST(Journal, RowsComeBackAsWrittenAndATornTailIsDropped) {
    ScratchFolder s;
    const std::string path = RecordJournal::PathFor(s.Path("Ms35fdb.DB"));
    EXPECT_EQ(path, s.Path("Ms35fdb.DB.journal"));
    const std::vector<RecordRow> rows = {Row(1, "00.66"), Row(2, "-1.234", "", "m*&", ""),
                                         Row(3, std::string("\xE6\0x", 3), "AC"), Row(5, ""),
                                         Row(7, std::string(300, '9'))};
    const double started = 46000.5;
    {
        RecordJournal j(path);
        for (const auto& r : rows) j.Append(r, started);
        EXPECT_EQ(j.Rows(), rows.size());
    }  // destroyed: written out and synced
    RecordJournal::Summary sum;
    auto back = ReadAllRows(path, &sum);
    ASSERT_EQ(back.size(), rows.size());
    EXPECT_EQ(sum.firstDateTime, started);
    for (size_t i = 0; i + 1 < rows.size(); ++i) ExpectSame(back[i], rows[i]);
    EXPECT_EQ(back.back().Value.substr(0, 64), std::string(64, '9'));  // an overlong text is cut, the row kept
    // The process died in the middle of a record: the complete ones before it are kept.
    const off_t good = SizeOf(path);
    for (const std::string& tail : {std::string("\x30\x01\x02", 3), std::string(1, '\x15'), std::string(40, '\xFF')}) {
        SCOPED_TRACE(tail.size());
        ASSERT_EQ(::truncate(path.c_str(), good), 0);
        FILE* f = std::fopen(path.c_str(), "ab");
        std::fwrite(tail.data(), 1, tail.size(), f);
        std::fclose(f);
        EXPECT_EQ(ReadAllRows(path).size(), rows.size());
    }
    // Continued after a restore: the torn tail is cut off and new rows follow the old ones.
    {
        RecordJournal j(path);
        j.Continue();
        EXPECT_EQ(j.Rows(), rows.size());
        j.Append(Row(8, "8.8"), started + 1);
    }
    back = ReadAllRows(path, &sum);
    ASSERT_EQ(back.size(), rows.size() + 1);
    ExpectSame(back.back(), Row(8, "8.8"));
    EXPECT_EQ(sum.firstDateTime, started);
    // Cleared: the file goes.
    {
        RecordJournal j(path);
        j.Clear();
    }
    EXPECT_EQ(SizeOf(path), -1);
}

TEST(Journal, AboutFortyBytesARowAndNotAJournalIsSaid) {
    ScratchFolder s;
    const std::string path = s.Path("t.journal");
    {
        RecordJournal j(path);
        for (int i = 0; i < 1000; ++i) j.Append(Row(i + 1, "-12.34", "DC", "m*", "AUTO"), 46000.0);
    }
    const double perRow = double(SizeOf(path) - off_t(RecordJournal::kHeadSize)) / 1000.0;
    EXPECT_LE(perRow, 45.0);
    WriteFileText(s.Path("other.journal"), "No\tTime\r\n");
    try {
        RecordJournal::Read(s.Path("other.journal"), nullptr);
        ADD_FAILURE() << "read";
    } catch (const JournalError& e) {
        EXPECT_NE(std::string(e.what()).find("not a recovery journal"), std::string::npos) << e.what();
    }
}

// A journal set aside opens as a record table (what `ms42k convert` does with it) and saves.
TEST(Journal, AKeptJournalOpensAsATable) {
    ScratchFolder s;
    const std::string path = RecordJournal::PathFor(s.Path("Ms35fdb.DB"));
    std::string kept;
    {
        RecordJournal j(path);
        j.Append(Row(4, "1.5"), 46000.0);
        j.Append(Row(5, "2.5", "AC"), 46000.0);
        j.Flush();
        kept = j.KeepAside();
    }
    EXPECT_EQ(SizeOf(path), -1);
    ASSERT_NE(kept.find(".unsaved-"), std::string::npos) << kept;
    RecordTable t;
    t.Open(kept);
    ASSERT_EQ(t.RowCount(), 2u);
    EXPECT_EQ(t.CellText(1, ColNo), "5");
    EXPECT_EQ(t.CellText(1, ColDcAc), "AC");
    EXPECT_EQ(t.CellText(0, ColTime), "12:00:04");
    SaveTable(t, s.Path("rescued.db"));
    RecordTable back;
    back.Open(s.Path("rescued.db"));
    EXPECT_EQ(back.RowCount(), 2u);
}

// kill -9 of a recording process after N rows: at least N minus the rows of its last second
// come back.
TEST(Journal, KillNineLosesAtMostTheLastSecond) {
    ScratchFolder s;
    const std::string path = s.Path("Ms35fdb.DB.journal");
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(fds[0]);
        RecordJournal j(path);
        for (int n = 1;; ++n) {
            j.Append(Row(n, std::to_string(n)), 46000.0);
            const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count();
            const int64_t msg[2] = {n, ms};
            if (::write(fds[1], msg, sizeof msg) != ssize_t(sizeof msg)) _exit(1);
            ::usleep(5000);
        }
    }
    ::close(fds[1]);
    std::vector<std::pair<int64_t, int64_t>> reported;
    int64_t msg[2];
    while (::read(fds[0], msg, sizeof msg) == ssize_t(sizeof msg)) {
        reported.emplace_back(msg[0], msg[1]);
        if (msg[0] >= 600) break;
    }
    ::kill(pid, SIGKILL);
    const int64_t killedAt =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    int status = 0;
    ::waitpid(pid, &status, 0);
    while (::read(fds[0], msg, sizeof msg) == ssize_t(sizeof msg)) reported.emplace_back(msg[0], msg[1]);
    ::close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_FALSE(reported.empty());
    const int64_t n = reported.back().first;
    int64_t lastSecond = 0;
    for (const auto& [no, ms] : reported)
        if (ms > killedAt - 1000) ++lastSecond;
    const auto rows = ReadAllRows(path);
    EXPECT_GE(int64_t(rows.size()), n - lastSecond) << "n=" << n << " last second=" << lastSecond;
    EXPECT_LE(int64_t(rows.size()), n);
    for (size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(rows[i].No, int32_t(i + 1));
}

// The window's one-second tick writes out whatever waits, also when no further row comes.
TEST(Journal, TheTickWritesOutTheBuffer) {
    ScratchFolder s;
    const std::string path = s.Path("tick.journal");
    RecordJournal j(path);
    j.Append(Row(1, "1.0"), 46000.0);
    j.Append(Row(2, "2.0"), 46000.0);
    j.Tick();
    EXPECT_EQ(RecordJournal::Read(path, nullptr).rows, 2u);
}
