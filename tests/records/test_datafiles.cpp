// Opening tables (lock, missing fields, damaged files, old files), the text form byte by
// byte, the Paradox copy (cross-checked with pxlib) and saves that fail.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <functional>
#include <string>
#include <vector>

#include "records/datafiles.h"
#include "records/recorder.h"
#include "records_fixture.h"
#include "table_compare.h"

namespace {
Reading MakeReading(const std::string& value, const std::string& acdc, const std::string& unit,
                    const std::string& autoText, float num) {
    Reading r;
    r.ValueText = value;
    r.AcDcText = acdc;
    r.SymbolText = unit;
    r.AutoText = autoText;
    r.ValueNum = num;
    return r;
}

void AppendAt(RecordTable& t, int no, int h, int m, int s, const Reading& r) {
    int32_t recordNo = no;
    AppendStampedRow(t, r, EncodeTime(h, m, s), recordNo);
}

bool ErrorContains(const std::function<void()>& f, const std::vector<std::string>& parts,
                   std::string* message = nullptr) {
    try {
        f();
    } catch (const std::exception& e) {
        if (message) *message = e.what();
        for (const auto& p : parts)
            if (std::string(e.what()).find(p) == std::string::npos) return false;
        return true;
    }
    return false;
}
}  // namespace

// ---- opening ----

TEST(OpenTable, FixturesWithoutTheRecordFieldsGiveAClearError) {
    for (const char* f : {"TypSammlung.DB", "biolife.db", "country.db", "empty.db"}) {
        SCOPED_TRACE(f);
        ScratchFolder scratch;
        const std::string path = scratch.Copy(std::string("paradox/") + f, f);
        RecordTable t;
        std::string msg;
        EXPECT_TRUE(ErrorContains([&] { t.Open(path); }, {path, "lacks the record field"}, &msg)) << msg;
        EXPECT_FALSE(t.IsOpen());
    }
}

TEST(OpenTable, DamagedOrForeignFilesGiveAClearErrorAndKeepTheRowsBefore) {
    ScratchFolder scratch;
    const std::string good = scratch.Copy("paradox/Ms35fdb.DB", "Ms35fdb.DB");
    std::vector<uint8_t> full;
    {
        // A valid table with rows, to be damaged below.
        RecordTable src;
        src.Open(good);
        for (int i = 0; i < 300; ++i) AppendAt(src, i + 1, 1, 2, 3, MakeReading("1.234", "DC", "V", "AUTO", 1234));
        const auto bytes = ParadoxCopy(src, "x.db", nullptr);
        full = bytes;
    }
    struct Case {
        const char* what;
        std::string content;
        const char* reason;
    };
    const Case cases[] = {
        {"text file", "No\tTime\r\n1\t00:00:00\r\n", "too short"},
        {"empty file", "", "too short"},
        {"truncated table", std::string(full.begin(), full.begin() + long(full.size() / 2)), "truncated"},
        {"no such file", "<none>", "No such file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordTable t;
        t.Open(good);
        AppendAt(t, 7, 1, 2, 3, MakeReading("9.9", "AC", "V", "", 99));
        const std::string path = scratch.Path(std::string("bad_") + std::to_string(&c - cases) + ".db");
        if (c.content != "<none>") WriteFileText(path, c.content);
        std::string msg;
        EXPECT_TRUE(ErrorContains([&] { t.Open(path); }, {path, c.reason}, &msg)) << msg;
        // The new file is checked before the old table is let go: it stays open and recording
        // goes on into it.
        EXPECT_TRUE(t.IsOpen());
        EXPECT_EQ(t.FileName(), good);
        ASSERT_EQ(t.RowCount(), 1u);
        EXPECT_EQ(t.CellText(0, ColValue), "9.9");
        AppendAt(t, 8, 1, 2, 4, MakeReading("9.8", "AC", "V", "", 98));
        ASSERT_EQ(t.RowCount(), 2u);
        t.Empty();
        AppendAt(t, 7, 1, 2, 3, MakeReading("9.9", "AC", "V", "", 99));
        const std::string saved = scratch.Path("kept.txt");
        SaveTable(t, saved);
        EXPECT_EQ(ReadFileText(saved), "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n7\t01:02:03\tAC\t9.9\tV\t\r\n");
    }
}

TEST(OpenTable, ASecondOpenOfTheSameFileIsRefused) {
    ScratchFolder scratch;
    const std::string path = scratch.Copy("paradox/Ms35fdb.DB", "Ms35fdb.DB");
    RecordTable first;
    first.Open(path);
    {
        RecordTable second;
        std::string msg;
        EXPECT_TRUE(ErrorContains([&] { second.Open(path); }, {path, "in use by another program"}, &msg)) << msg;
    }
    // Another process (a second program instance) is refused too.
    const pid_t pid = fork();
    if (pid == 0) {
        RecordTable other;
        try {
            other.Open(path);
        } catch (const TableError&) {
            _exit(3);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
    // Closing releases the lock.
    first.Close();
    RecordTable third;
    EXPECT_NO_THROW(third.Open(path));
}

// An old file may hold other field types (and more fields) than recorded rows, and longer
// texts: the table shows what the file holds, and recording continues into it.
TEST(OpenTable, OldFilesWithOtherTypesShowWhatTheyHold) {
    ScratchFolder scratch;
    PxSchema s;
    s.Add("no", PxType::Number, 8);
    s.Add("Remark", PxType::Alpha, 40);
    s.Add("TIME", PxType::Timestamp, 8);
    s.Add("dc/ac", PxType::Alpha, 10);
    s.Add("value", PxType::Alpha, 30);
    s.Add("unit", PxType::Alpha, 20);
    s.Add("Auto", PxType::Alpha, 8);
    s.Add("NVAL", PxType::Short, 2);
    RowStore rows(s.recordSize);
    uint8_t* r = rows.Append();
    PxSetDouble(s.fields[0], r, 41);
    PxSetAlpha(s.fields[1], r, "kept as it is");
    PxSetDouble(s.fields[2], r, (45000.0 + double(kPxDateDelta)) * double(kMsPerDay) + 3723000.0);
    PxSetAlpha(s.fields[3], r, "AC+DC");
    PxSetAlpha(s.fields[4], r, "a value text of 26 letters");
    PxSetAlpha(s.fields[5], r, "kilo-ohm");
    const auto bytes = WriteParadox(
        s, rows.size(), [&](size_t i) { return rows.Row(i); }, PxWriteOptions{"old.db"});
    const std::string path = scratch.Path("old.db");
    WriteFileText(path, std::string(bytes.begin(), bytes.end()));

    RecordTable t;
    t.Open(path);
    const std::vector<std::string> first = {
        "41", "2023-03-15 01:02:03", "AC+DC", "a value text of 26 letters", "kilo-ohm", ""};
    for (int c = 0; c < kRecordColumns; ++c) EXPECT_EQ(t.CellText(0, c), first[size_t(c)]) << c;
    AppendAt(t, 42, 0, 0, 0, MakeReading("1.0", "DC", "V", "AUTO", 10));
    EXPECT_EQ(t.CellText(1, ColNo), "42");
    EXPECT_EQ(t.CellText(1, ColAuto), "AUTO");
    EXPECT_EQ(t.FieldText(1, 7), "10");
    EXPECT_EQ(t.FieldText(0, 1), "kept as it is");
}

// ---- saving ----

TEST(SaveForm, TheExtensionChoosesTheForm) {
    struct Case {
        const char* name;
        const char* extension;
        SaveForm form;
    };
    const Case cases[] = {
        {"/tmp/a.db", ".db", SaveForm::Paradox},   {"/tmp/a.DB", ".DB", SaveForm::Paradox},
        {"/tmp/a.Db", ".Db", SaveForm::Paradox},   {"/tmp/a.xls", ".xls", SaveForm::Text},
        {"/tmp/a.dB", ".dB", SaveForm::Paradox},   {"/tmp/a.dbf", ".dbf", SaveForm::Text},
        {"/tmp/a.txt", ".txt", SaveForm::Text},    {"/tmp/a", "", SaveForm::Text},
        {"/tmp/dir.db/a", "", SaveForm::Text},     {"/tmp/a.b.db", ".db", SaveForm::Paradox},
        {"a.db", ".db", SaveForm::Paradox},        {"/tmp/.db", ".db", SaveForm::Paradox},
        {"/tmp/a.db.txt", ".txt", SaveForm::Text},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileExtension(c.name), c.extension) << c.name;
        EXPECT_EQ(SaveFormFor(c.name), c.form) << c.name;
    }
}

TEST(TextForm, ByteExact) {
    struct Case {
        const char* what;
        std::vector<std::pair<int, Reading>> rows;
        std::string text;
    };
    const std::string header = "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n";
    const Case cases[] = {
        {"empty table", {}, header},
        {"empty DC/AC and AUTO",
         {{1, MakeReading("00.66", "", " V", "", 66)}},
         header + "1\t13:05:09\t\t00.66\t V\t\r\n"},
        {"all fields",
         {{12, MakeReading("-1.234", "AC", "m*&", "AUTO", -1234)}},
         header + "12\t13:05:09\tAC\t-1.234\tm*&\tAUTO\r\n"},
        {"two rows",
         {{1, MakeReading("1", "DC", "V", "", 1)}, {3, MakeReading("2", "DC", "V", "", 2)}},
         header + "1\t13:05:09\tDC\t1\tV\t\r\n3\t13:05:09\tDC\t2\tV\t\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder scratch;
        RecordTable t;
        t.Open(scratch.Copy("paradox/Ms35fdb.DB", "Ms35fdb.DB"));
        for (const auto& [no, r] : c.rows) AppendAt(t, no, 13, 5, 9, r);
        for (const char* name : {"out.txt", "out.xls", "out.TXT"}) {
            const std::string path = scratch.Path(name);
            const SaveOutcome o = SaveTable(t, path);
            EXPECT_EQ(o.form, SaveForm::Text);
            EXPECT_EQ(ReadFileText(path), c.text) << name;
        }
    }
}

#ifdef MS42K_HAVE_PXLIB
TEST(ParadoxCopy, RoundTripThroughPxlibAndOurs) {
    ScratchFolder scratch;
    RecordTable t;
    t.Open(scratch.Copy("paradox/Ms35fdb.DB", "Ms35fdb.DB"));
    const Reading readings[] = {MakeReading("00.66", "DC", " V", "", 66), MakeReading("-0.0L", "", "M*", "AUTO", -60),
                                MakeReading("", "", "", "", 0), MakeReading("12.34", "AC", "mA", "AUTO", 1234)};
    for (int i = 0; i < 500; ++i) AppendAt(t, i + 1, i % 24, i % 60, (i * 7) % 60, readings[i % 4]);
    const std::string path = scratch.Path("copy.db");
    const SaveOutcome o = SaveTable(t, path);
    EXPECT_EQ(o.form, SaveForm::Paradox);
    EXPECT_TRUE(o.notes.empty());
    PxTable mine;
    mine.schema = t.Schema();
    mine.rows = RowStore(t.Schema().recordSize);
    for (size_t r = 0; r < t.RowCount(); ++r) mine.rows.Append(t.RowData(r));
    const NeutralTable expected = FromOurs(mine);
    ExpectSameTables(expected, ReadPxlib(path), "pxlib reads the copy");
    ExpectSameTables(expected, ReadOurs(path), "we read the copy");
    // The copy opens as a record table with the same cells.
    RecordTable back;
    back.Open(path);
    ASSERT_EQ(back.RowCount(), t.RowCount());
    for (size_t r = 0; r < t.RowCount(); r += 37)
        for (int c = 0; c < kRecordColumns; ++c) EXPECT_EQ(back.CellText(r, c), t.CellText(r, c));
}
#endif

TEST(ParadoxCopy, BlobValuesInTheCompanionFileAreReported) {
    // biolife: Notes (memo) and Graphic values live in its .mb file.
    const auto bytes = ReadBytes(std::string(MS42K_TEST_DATA) + "/paradox/biolife.db");
    PxTable src = ReadParadox(bytes.data(), bytes.size());
    // Give it the record fields so it opens as a record table.
    PxSchema s = src.schema;
    for (const char* f : {"No", "Time", "DC/AC", "Value", "Unit", "AUTO", "Nval"})
        s.Add(f,
              std::string(f) == "Time"
                  ? PxType::Time
                  : (std::string(f) == "No" || std::string(f) == "Nval" ? PxType::Long : PxType::Alpha),
              std::string(f) == "Time" || std::string(f) == "No" || std::string(f) == "Nval" ? 4 : 8);
    std::vector<uint8_t> rec(s.recordSize);
    RowStore rows(s.recordSize);
    for (size_t r = 0; r < src.rows.size(); ++r) {
        std::fill(rec.begin(), rec.end(), 0);
        std::copy(src.rows.Row(r), src.rows.Row(r) + src.schema.recordSize, rec.begin());
        rows.Append(rec.data());
    }
    ScratchFolder scratch;
    const auto out = WriteParadox(
        s, rows.size(), [&](size_t i) { return rows.Row(i); }, PxWriteOptions{"bio.db"});
    const std::string path = scratch.Path("bio.db");
    WriteFileText(path, std::string(out.begin(), out.end()));
    RecordTable t;
    t.Open(path);
    const std::string copy = scratch.Path("bio_copy.db");
    const SaveOutcome o = SaveTable(t, copy);
    ASSERT_EQ(o.notes.size(), 2u);
    EXPECT_NE(o.notes[0].find("'Notes'"), std::string::npos) << o.notes[0];
    EXPECT_NE(o.notes[1].find("'Graphic'"), std::string::npos) << o.notes[1];
    // Everything else is copied; the blob fields are empty in the copy.
    RecordTable back;
    back.Open(copy);
    ASSERT_EQ(back.RowCount(), t.RowCount());
    const int notes = back.Schema().Find("Notes");
    for (size_t r = 0; r < back.RowCount(); ++r) {
        EXPECT_EQ(back.FieldText(r, 2), t.FieldText(r, 2));
        EXPECT_EQ(back.FieldText(r, size_t(notes)), "");
    }
}

// A save that fails midway leaves the old file as it was and no temporary file behind.
TEST(SaveFailure, TheOldFileIsKept) {
    ScratchFolder scratch;
    RecordTable t;
    t.Open(scratch.Copy("paradox/Ms35fdb.DB", "Ms35fdb.DB"));
    for (int i = 0; i < 2000; ++i) AppendAt(t, i + 1, 1, 1, 1, MakeReading("1.000", "DC", "V", "AUTO", 1000));
    for (const char* name : {"old.txt", "old.db"}) {
        SCOPED_TRACE(name);
        const std::string path = scratch.Path(name);
        WriteFileText(path, "the old file");
        // Files may not grow beyond 4 KB for the save: the write fails midway.
        struct rlimit before {};
        getrlimit(RLIMIT_FSIZE, &before);
        struct rlimit small = before;
        small.rlim_cur = 4096;
        auto oldHandler = signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        std::string msg;
        const bool failed = ErrorContains([&] { SaveTable(t, path); }, {path}, &msg);
        setrlimit(RLIMIT_FSIZE, &before);
        signal(SIGXFSZ, oldHandler);
        EXPECT_TRUE(failed) << msg;
        EXPECT_EQ(ReadFileText(path), "the old file");
        const QStringList left = QDir(QString::fromStdString(scratch.Folder())).entryList(QDir::Files | QDir::Hidden);
        EXPECT_FALSE(left.join(' ').contains(QStringLiteral(".old."))) << left.join(' ').toStdString();
    }
    // A folder that does not exist.
    std::string msg;
    EXPECT_TRUE(ErrorContains([&] { SaveTable(t, scratch.Path("missing/x.txt")); }, {"missing/x.txt"}, &msg)) << msg;
}

TEST(SaveMessages, Texts) {
    EXPECT_EQ(TextSavedMessage("/a/b.txt"), "save table to specified file: /a/b.txt Scuss!");
    EXPECT_EQ(TextSaveFailedMessage("/a/b.txt"), "Could not save table to specified file: /a/b.txt");
}
