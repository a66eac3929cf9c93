// ms42k log as a person runs it: a child process of the built program, driven by the simulated
// cable (--simulate) or by a file of frames (--frames), with signals, kills, a pipe into head,
// a removed folder and a full file system.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/mount.h>
#include <unistd.h>

#include "link/simmeter.h"
#include "logger_test_support.h"
#include "records/recordtable.h"

namespace {
using namespace logger_test;

// ---------------------------------------------------------------- streaming

struct StreamCase {
    const char* name;
    QString out;  // empty: standard output
    QChar separator;
    int noColumn;
    const char* header;
};

TEST_F(LoggerRun, RowsAreThereWhileTheRunGoesOnAndAllOfThemWhenItEnds) {
    const StreamCase cases[] = {
        {"csv file", QStringLiteral("s.csv"), QLatin1Char(','), 1,
         "datetime,no,value,unit,dc_ac,auto,si_value,si_unit"},
        {"text file", QStringLiteral("s.txt"), QLatin1Char('\t'), 0, "No\tTime\tDC/AC\tValue\tUnit\tAUTO"},
        {"standard output", QString(), QLatin1Char('\t'), 0, "No\tTime\tDC/AC\tValue\tUnit\tAUTO"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Child child(dir_.path(), Tmp());
        QStringList args{QStringLiteral("--simulate")};
        if (!c.out.isEmpty()) args << QStringLiteral("--out=") + Path(c.out);
        child.Start(args);
        auto seen = [&] {
            if (c.out.isEmpty()) return int(child.Out().count("\r\n")) - 1;
            return int(ReadOutput(Path(c.out), c.separator).rows.size());
        };
        ASSERT_TRUE(child.WaitFor([&] { return seen() >= 3; })) << child.Err().toStdString();
        EXPECT_TRUE(child.Running()) << "rows are written while the logger runs";
        child.Signal(SIGTERM);
        ASSERT_EQ(child.Finish(), 0) << child.Err().toStdString();
        EXPECT_TRUE(child.Err().contains(QStringLiteral("stopped by SIGTERM"))) << child.Err().toStdString();

        Output o;
        if (c.out.isEmpty()) {
            const QString path = Path(QStringLiteral("stdout.txt"));
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(child.Out());
            f.close();
            o = ReadOutput(path, c.separator);
        } else {
            o = ReadOutput(Path(c.out), c.separator);
        }
        EXPECT_EQ(o.header, QString::fromUtf8(c.header));
        EXPECT_TRUE(o.endsWithWholeLine);
        EXPECT_EQ(int(o.rows.size()), child.RowsReported());
        EXPECT_TRUE(Consecutive(Numbers(o, c.noColumn), 1));
    }
}

TEST_F(LoggerRun, PipedIntoHeadItsLinesComeAtOnceAndTheRunEndsWithTheReader) {
    // ms42k log --simulate | head -n 3. Without a flush per row, head would wait for ever and
    // the logger would never see the pipe close.
    QProcess logger, head;
    logger.setWorkingDirectory(dir_.path());
    logger.setStandardOutputProcess(&head);
    head.start(QStringLiteral("head"), {QStringLiteral("-n"), QStringLiteral("3")});
    logger.start(kProgram, {QStringLiteral("log"), QStringLiteral("--simulate")});
    ASSERT_TRUE(head.waitForFinished(60000)) << "head got no three lines";
    const bool ended = logger.waitForFinished(60000);
    if (!ended) logger.kill();
    ASSERT_TRUE(ended) << "the logger did not end after head";
    EXPECT_EQ(logger.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(logger.exitCode(), 0) << logger.readAllStandardError().toStdString();
    const QList<QByteArray> lines = head.readAllStandardOutput().split('\n');
    ASSERT_EQ(lines.size(), 4);  // three lines and the empty rest
    EXPECT_TRUE(lines[0].startsWith("No\tTime"));
    EXPECT_TRUE(lines[1].startsWith("1\t"));
    EXPECT_TRUE(lines[2].startsWith("2\t"));
}

// ---------------------------------------------------------------- signals and kills

struct SignalCase {
    const char* name;
    int sig;
    QString out;
    const char* said;
};

TEST_F(LoggerRun, StopSignalsEndTheRunWithEveryRowWritten) {
    const SignalCase cases[] = {
        {"SIGHUP, csv", SIGHUP, QStringLiteral("hup.csv"), "stopped by SIGHUP"},
        {"SIGINT, text", SIGINT, QStringLiteral("int.txt"), "stopped by Ctrl+C (SIGINT)"},
        {"SIGHUP, db", SIGHUP, QStringLiteral("hup.db"), "stopped by SIGHUP"},
        {"SIGTERM, db in upper case", SIGTERM, QStringLiteral("term.DB"), "stopped by SIGTERM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Child child(dir_.path(), Tmp());
        child.Start({QStringLiteral("--simulate"), QStringLiteral("--out"), Path(c.out)});
        // Rows are being recorded when the signal comes (seen in the file, or, for db, after
        // a while: the table is written every 10 s and at the end).
        if (c.out.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) || c.out.endsWith(QStringLiteral(".txt")))
            ASSERT_TRUE(child.WaitFor([&] { return ReadOutput(Path(c.out), QLatin1Char(',')).rows.size() >= 2; }));
        else
            QThread::msleep(1500);
        child.Signal(c.sig);
        ASSERT_EQ(child.Finish(), 0) << child.Err().toStdString();
        EXPECT_TRUE(child.Err().contains(QString::fromUtf8(c.said))) << child.Err().toStdString();
        const int reported = child.RowsReported();
        ASSERT_GT(reported, 0) << child.Err().toStdString();
        if (c.out.endsWith(QStringLiteral(".db"), Qt::CaseInsensitive)) {
            RecordTable t;
            ASSERT_NO_THROW(t.Open(Path(c.out).toStdString()));
            EXPECT_EQ(int(t.RowCount()), reported);
        } else {
            const QChar sep = c.out.endsWith(QStringLiteral(".csv")) ? QLatin1Char(',') : QLatin1Char('\t');
            EXPECT_EQ(int(ReadOutput(Path(c.out), sep).rows.size()), reported);
        }
        EXPECT_TRUE(Fallbacks().isEmpty());
    }
}

TEST_F(LoggerRun, KillNineKeepsTheRowsSoFar) {
    struct Case {
        const char* name;
        QString out;
        QChar separator;
        int noColumn;
    } cases[] = {
        {"csv", QStringLiteral("k.csv"), QLatin1Char(','), 1},
        {"text", QStringLiteral("k.txt"), QLatin1Char('\t'), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Child child(dir_.path(), Tmp());
        child.Start({QStringLiteral("--simulate"), QStringLiteral("--out"), Path(c.out)});
        size_t before = 0;
        ASSERT_TRUE(child.WaitFor([&] { return (before = ReadOutput(Path(c.out), c.separator).rows.size()) >= 4; }));
        child.Signal(SIGKILL);
        EXPECT_EQ(child.Finish(), -1);
        const Output o = ReadOutput(Path(c.out), c.separator);
        EXPECT_GE(o.rows.size(), before);
        EXPECT_TRUE(Consecutive(Numbers(o, c.noColumn), 1));
    }
}

TEST_F(LoggerRun, KillNineOfADbRunLosesAtMostTheLastTenSeconds) {
    const QString out = Path(QStringLiteral("k.db"));
    Child child(dir_.path(), Tmp());
    child.Start({QStringLiteral("--simulate"), QStringLiteral("--out"), out});
    // The first rewrite comes 10 s after the start.
    ASSERT_TRUE(child.WaitFor([&] { return QFile::exists(out); })) << child.Err().toStdString();
    child.Signal(SIGKILL);
    EXPECT_EQ(child.Finish(), -1);
    RecordTable t;
    ASSERT_NO_THROW(t.Open(out.toStdString()));
    EXPECT_GT(t.RowCount(), 10u);
    for (size_t i = 0; i < t.RowCount(); ++i) ASSERT_EQ(t.CellText(i, ColNo), std::to_string(i + 1));
}

// ---------------------------------------------------------------- limits

TEST_F(LoggerRun, TimeAndLimitEndTheRunAndSaySo) {
    struct Case {
        const char* name;
        QStringList args;
        const char* said;
        int rows;  // -1: some
    } cases[] = {
        {"--time", {QStringLiteral("--time"), QStringLiteral("1.5")}, "the --time of 1.5 s is over", -1},
        {"--time=", {QStringLiteral("--time=2")}, "the --time of 2 s is over", -1},
        {"--limit", {QStringLiteral("--limit"), QStringLiteral("5")}, "the record limit of 5 rows is reached", 5},
        {"--limit 0", {QStringLiteral("--limit=0")}, "the record limit of 0 rows is reached", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString out = Path(QStringLiteral("limit.csv"));
        Child child(dir_.path(), Tmp());
        child.Start(QStringList{QStringLiteral("--simulate"), QStringLiteral("--out"), out} + c.args);
        ASSERT_EQ(child.Finish(), 0) << "the run ends by itself; " << child.Err().toStdString();
        EXPECT_TRUE(child.Err().contains(QString::fromUtf8(c.said))) << child.Err().toStdString();
        const Output o = ReadOutput(out, QLatin1Char(','));
        EXPECT_EQ(int(o.rows.size()), child.RowsReported());
        if (c.rows >= 0)
            EXPECT_EQ(int(o.rows.size()), c.rows);
        else
            EXPECT_GT(o.rows.size(), 0u);
    }
}

// ---------------------------------------------------------------- CSV columns

TEST_F(LoggerRun, CsvColumnsForEveryUnitPrefixAndOverload) {
    // One frame of every scene of the simulated meter, in its order.
    struct Expected {
        const char* unit;
        const char* siUnit;
        int exponent;
        bool overload;
    };
    const std::vector<Expected> expected = {
        {"V", "V", 0, false},    {"V", "V", 0, false},    {"V", "V", 0, false},   {"mV", "V", -3, false},
        {"mA", "A", -3, false},  {"A", "A", 0, false},    {"uA", "A", -6, false}, {"Hz", "Hz", 0, false},
        {"kHz", "Hz", 3, false}, {"Duty", "%", 0, false}, {"nF", "F", -9, false}, {"uF", "F", -6, false},
        {"Ω", "Ω", 0, false},    {"kΩ", "Ω", 3, false},   {"MΩ", "Ω", 6, false},  {"Ω♫", "Ω", 0, false},
        {"V▶|", "V", 0, false},  {"MΩ", "Ω", 6, true},
    };
    ASSERT_EQ(SimMeter::Scenes().size(), expected.size());
    const QString frames = WriteFrames(Path(QStringLiteral("scenes.txt")), expected.size(), 1);
    const QString out = Path(QStringLiteral("scenes.csv"));
    Child child(dir_.path(), Tmp());
    child.Start({QStringLiteral("--frames=") + frames, QStringLiteral("--out=") + out});
    ASSERT_EQ(child.Finish(), 0) << child.Err().toStdString();
    const Output o = ReadOutput(out, QLatin1Char(','));
    ASSERT_EQ(o.rows.size(), expected.size()) << child.Err().toStdString();
    const QRegularExpression iso(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"));
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("scene " + std::to_string(i));
        const QStringList& r = o.rows[i];
        ASSERT_EQ(r.size(), 8);
        EXPECT_TRUE(iso.match(r[0]).hasMatch()) << r[0].toStdString();
        EXPECT_EQ(r[1], QString::number(i + 1));
        EXPECT_EQ(r[3], QString::fromUtf8(expected[i].unit));
        EXPECT_EQ(r[7], QString::fromUtf8(expected[i].siUnit));
        if (expected[i].overload) {
            EXPECT_TRUE(r[2].contains(QLatin1Char('L'))) << r[2].toStdString();
            EXPECT_TRUE(r[6].isEmpty()) << r[6].toStdString();
        } else {
            bool okValue = false, okSi = false;
            const double value = r[2].trimmed().toDouble(&okValue);
            const double si = r[6].toDouble(&okSi);
            ASSERT_TRUE(okValue && okSi) << r[2].toStdString() << " / " << r[6].toStdString();
            EXPECT_NEAR(si, value * std::pow(10.0, expected[i].exponent), 1e-9 * std::max(1.0, std::fabs(si)));
        }
        EXPECT_TRUE(r[4] == QLatin1String("AC") || r[4] == QLatin1String("DC") || r[4].isEmpty());
    }
}

// ---------------------------------------------------------------- write failures

// A small tmpfs of its own, mounted for the test and gone after it.
class SmallDisk {
public:
    explicit SmallDisk(const QString& path) : path_(path) {
        QDir().mkpath(path);
        mounted_ = ::mount("tmpfs", path.toLocal8Bit().constData(), "tmpfs", 0, "size=64k") == 0;
        if (!mounted_) why_ = std::strerror(errno);
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(path_.toLocal8Bit().constData(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    const std::string& Why() const { return why_; }
    // Fills the disk: a filler file takes every free block.
    void Fill() {
        const int fd = ::open((path_ + QStringLiteral("/filler")).toLocal8Bit().constData(), O_WRONLY | O_CREAT, 0644);
        std::vector<char> block(1024, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::write(fd, block.data(), 1);
        ::close(fd);
    }
    void Free() { QFile::remove(path_ + QStringLiteral("/filler")); }

private:
    QString path_;
    bool mounted_ = false;
    std::string why_;
};

TEST_F(LoggerRun, DiskFullMidRunIsReportedAndNoRowIsLost) {
    struct Case {
        const char* name;
        bool freeAgain;  // room is made while the run goes on
        int status;
    } cases[] = {
        {"disk stays full: the rest goes to a fallback file", false, 1},
        {"room made again: the kept rows are written", true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SmallDisk disk(Path(QStringLiteral("disk")));
        if (!disk.Mounted()) GTEST_SKIP() << "mounting a small tmpfs needs root (CAP_SYS_ADMIN): " << disk.Why();
        for (const QString& f : Fallbacks()) QFile::remove(QDir(Tmp()).filePath(f));
        const QString out = Path(QStringLiteral("disk/full.csv"));
        Child child(dir_.path(), Tmp());
        child.Start({QStringLiteral("--simulate"), QStringLiteral("--out"), out});
        ASSERT_TRUE(child.WaitFor([&] { return ReadOutput(out, QLatin1Char(',')).rows.size() >= 2; }));
        disk.Fill();
        // The failure is said as soon as a row does not fit (the file's last block fills first).
        ASSERT_TRUE(child.WaitFor([&] { return child.Err().contains(QStringLiteral("No space left on device")); }))
            << child.Err().toStdString();
        EXPECT_TRUE(child.Err().contains(QStringLiteral("cannot write to ") + out));
        EXPECT_TRUE(child.Running());
        QThread::msleep(700);  // rows keep coming while the disk is full
        if (c.freeAgain) {
            disk.Free();
            ASSERT_TRUE(child.WaitFor([&] { return child.Err().contains(QStringLiteral("again")); }))
                << child.Err().toStdString();
        }
        child.Signal(SIGTERM);
        EXPECT_EQ(child.Finish(), c.status) << child.Err().toStdString();
        const int reported = child.RowsReported();

        const Output main = ReadOutput(out, QLatin1Char(','));
        EXPECT_TRUE(main.endsWithWholeLine) << "a row cut by the full disk is taken off the file";
        std::vector<int> numbers = Numbers(main, 1);
        if (c.freeAgain) {
            EXPECT_TRUE(Fallbacks().isEmpty());
        } else {
            ASSERT_EQ(Fallbacks().size(), 1u) << child.Err().toStdString();
            const QString fallback = QDir(Tmp()).filePath(Fallbacks().first());
            EXPECT_TRUE(child.Err().contains(QStringLiteral("they are in ") + fallback)) << child.Err().toStdString();
            const Output rest = ReadOutput(fallback, QLatin1Char(','));
            EXPECT_EQ(rest.header, main.header);
            EXPECT_FALSE(rest.rows.empty());
            for (int n : Numbers(rest, 1)) numbers.push_back(n);
        }
        // Every recorded row is in the file or in the fallback, once and in order.
        EXPECT_EQ(int(numbers.size()), reported);
        EXPECT_TRUE(Consecutive(numbers, 1));
    }
}

TEST_F(LoggerRun, DiskFullForTheDbKeepsTheTableAndWritesItToAFallback) {
    SmallDisk disk(Path(QStringLiteral("disk")));
    if (!disk.Mounted()) GTEST_SKIP() << "mounting a small tmpfs needs root (CAP_SYS_ADMIN): " << disk.Why();
    disk.Fill();
    const QString out = Path(QStringLiteral("disk/full.db"));
    Child child(dir_.path(), Tmp());
    child.Start({QStringLiteral("--simulate"), QStringLiteral("--out"), out});
    // The rewrite after 10 s fails, is said at once, and the run goes on.
    ASSERT_TRUE(child.WaitFor([&] { return child.Err().contains(QStringLiteral("No space left on device")); }))
        << child.Err().toStdString();
    EXPECT_TRUE(child.Running());
    EXPECT_TRUE(child.Err().contains(QStringLiteral("are kept"))) << child.Err().toStdString();
    child.Signal(SIGTERM);
    EXPECT_EQ(child.Finish(), 1) << child.Err().toStdString();
    EXPECT_FALSE(QFile::exists(out));
    ASSERT_EQ(Fallbacks().size(), 1u) << child.Err().toStdString();
    const QString fallback = QDir(Tmp()).filePath(Fallbacks().first());
    EXPECT_TRUE(fallback.endsWith(QStringLiteral(".db")));
    EXPECT_TRUE(child.Err().contains(QStringLiteral("they are in ") + fallback)) << child.Err().toStdString();
    RecordTable t;
    ASSERT_NO_THROW(t.Open(fallback.toStdString()));
    EXPECT_EQ(int(t.RowCount()), child.RowsReported());
    EXPECT_GT(t.RowCount(), 10u);
}

TEST_F(LoggerRun, FolderRemovedMidRunIsReportedAndTheLaterRowsKept) {
    const QString folder = Path(QStringLiteral("gone"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString out = folder + QStringLiteral("/x.txt");
    Child child(dir_.path(), Tmp());
    child.Start({QStringLiteral("--simulate"), QStringLiteral("--out"), out});
    ASSERT_TRUE(child.WaitFor([&] { return ReadOutput(out, QLatin1Char('\t')).rows.size() >= 2; }));
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(child.WaitFor([&] { return child.Err().contains(QStringLiteral("the file was removed")); }))
        << child.Err().toStdString();
    QThread::msleep(500);
    child.Signal(SIGTERM);
    EXPECT_EQ(child.Finish(), 1) << child.Err().toStdString();
    ASSERT_EQ(Fallbacks().size(), 1u) << child.Err().toStdString();
    const QString fallback = QDir(Tmp()).filePath(Fallbacks().first());
    EXPECT_TRUE(child.Err().contains(fallback)) << child.Err().toStdString();
    const Output rest = ReadOutput(fallback, QLatin1Char('\t'));
    ASSERT_FALSE(rest.rows.empty());
    // The rows from the removal on, up to the last one recorded.
    const std::vector<int> n = Numbers(rest, 0);
    EXPECT_GT(n.front(), 2);
    EXPECT_TRUE(Consecutive(n, n.front()));
    EXPECT_EQ(n.back(), child.RowsReported());
}

}  // namespace
