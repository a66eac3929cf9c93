// The command line: every subcommand's --help, --opt=value and --opt value, and the exit
// statuses 0 (success), 1 (failure) and 2 (usage error); what the options of ms42k and of
// ms42k log come to.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <climits>
#include <functional>

#include "app/appoptions.h"
#include "app/cli.h"
#include "app/logoptions.h"
#include "link/simcable_backend.h"

namespace {

struct StatusCase {
    const char* name;
    int (*run)(const CliArgs&);
    CliArgs args;
    int status;
};

TEST(CommandLine, SubcommandStatuses) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string missing = dir.filePath(QStringLiteral("none.db")).toStdString();
    const std::string frames = dir.filePath(QStringLiteral("none.txt")).toStdString();
    const StatusCase cases[] = {
        {"decode --help", CmdDecode, {"--help"}, 0},
        {"decode -h", CmdDecode, {"-h"}, 0},
        {"decode help beats a wrong option", CmdDecode, {"--bogus", "--help"}, 0},
        {"decode two files", CmdDecode, {"a", "b"}, 2},
        {"decode unknown option", CmdDecode, {"--bogus"}, 2},
        {"decode missing file", CmdDecode, {missing}, 1},
        {"convert --help", CmdConvert, {"--help"}, 0},
        {"convert one file", CmdConvert, {missing}, 2},
        {"convert three files", CmdConvert, {missing, "b", "c"}, 2},
        {"convert missing input", CmdConvert, {missing, dir.filePath(QStringLiteral("o.txt")).toStdString()}, 1},
        {"report --help", CmdReport, {"--help"}, 0},
        {"report --pdf without value", CmdReport, {missing, "--pdf"}, 2},
        {"report --pdf twice", CmdReport, {missing, "--pdf", "a.pdf", "--pdf=b.pdf"}, 2},
        {"report --pdf=OUT, missing table", CmdReport, {missing, "--pdf=" + missing + ".pdf"}, 1},
        {"report --pdf OUT, missing table", CmdReport, {"--pdf", missing + ".pdf", missing}, 1},
        {"log --help", CmdLog, {"--help"}, 0},
        {"log -h among others", CmdLog, {"--simulate", "-h"}, 0},
        {"log unknown option", CmdLog, {"--fast"}, 2},
        {"log stray argument", CmdLog, {"now"}, 2},
        {"log --count without value", CmdLog, {"--count"}, 2},
        {"log --count=x", CmdLog, {"--count=x"}, 2},
        {"log --count 0", CmdLog, {"--count", "0"}, 2},
        {"log --limit=-1", CmdLog, {"--limit=-1"}, 2},
        {"log --time 0", CmdLog, {"--time", "0"}, 2},
        {"log --time=soon", CmdLog, {"--time=soon"}, 2},
        {"log --time 1e3", CmdLog, {"--time", "1e3"}, 2},
        {"log --interval 1.5", CmdLog, {"--interval", "1.5"}, 2},
        {"log --format xml", CmdLog, {"--format", "xml", "--out", "x"}, 2},
        {"log --format=db without --out", CmdLog, {"--format=db"}, 2},
        {"log --out twice", CmdLog, {"--out", "a.txt", "--out=b.txt"}, 2},
        {"log --simulate and --frames", CmdLog, {"--simulate", "--frames=" + frames}, 2},
        {"log --frames=missing", CmdLog, {"--frames=" + frames}, 1},
        {"log --out into a missing folder", CmdLog, {"--frames", frames, "--out", missing + "/x/y.csv"}, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(c.run(c.args), c.status) << c.name;
}

TEST(CommandLine, MainStatuses) {
    const struct {
        const char* name;
        std::vector<const char*> argv;
        int status;
    } cases[] = {
        {"--help", {"ms42k", "--help"}, 0},
        {"-h", {"ms42k", "-h"}, 0},
        {"--version", {"ms42k", "--version"}, 0},
        {"unknown subcommand", {"ms42k", "scramble"}, 2},
        {"unknown option", {"ms42k", "--scramble"}, 2},
        {"--com1 without path", {"ms42k", "--com1"}, 2},
        {"subcommand help", {"ms42k", "log", "--help"}, 0},
        {"subcommand usage error", {"ms42k", "decode", "a", "b"}, 2},
    };
    for (const auto& c : cases) {
        std::vector<char*> argv;
        for (const char* a : c.argv) argv.push_back(const_cast<char*>(a));
        argv.push_back(nullptr);
        EXPECT_EQ(RunMain(int(c.argv.size()), argv.data()), c.status) << c.name;
    }
}

TEST(CommandLine, WindowOptions) {
    const struct {
        const char* name;
        CliArgs args;
        int status;  // -1: the window opens
        std::string com1;
        bool simulated;
    } cases[] = {
        {"nothing", {}, -1, "", false},
        {"--simulate", {"--simulate"}, -1, "", true},
        {"--com1 PATH", {"--com1", "/dev/ttyUSB3"}, -1, "/dev/ttyUSB3", false},
        {"--com1=PATH", {"--com1=/dev/ttyS4"}, -1, "/dev/ttyS4", false},
        {"both", {"--com1=/dev/ttyS4", "--simulate"}, -1, "/dev/ttyS4", true},
        {"--com1=", {"--com1="}, 2, "", false},
        {"stray argument after an option", {"--simulate", "extra"}, 2, "", false},
        {"--help", {"--simulate", "--help"}, 0, "", false},
    };
    for (const auto& c : cases) {
        AppOptions o;
        EXPECT_EQ(ParseWindowArgs(c.args, o), c.status) << c.name;
        if (c.status != -1) continue;
        EXPECT_EQ(o.com1Path, c.com1) << c.name;
        EXPECT_EQ(std::dynamic_pointer_cast<SimCableBackend>(o.hidBackend) != nullptr, c.simulated) << c.name;
    }
}

TEST(CommandLine, LogOptions) {
    const struct {
        const char* name;
        CliArgs args;
        std::function<bool(const LogOptions&)> holds;
    } cases[] = {
        {"defaults: text, no record limit",
         {"--simulate"},
         [](const LogOptions& o) {
             return o.simulate && o.format == LogFormat::Text && o.limit == INT32_MAX && !o.limitGiven && !o.count &&
                    !o.timeSeconds && !o.interval && !o.repeat && o.out.empty();
         }},
        {".csv gives csv", {"--out", "a.csv"}, [](const LogOptions& o) { return o.format == LogFormat::Csv; }},
        {".CSV gives csv", {"--out=A.CSV"}, [](const LogOptions& o) { return o.format == LogFormat::Csv; }},
        {".db gives db", {"--out", "dir.x/a.db"}, [](const LogOptions& o) { return o.format == LogFormat::Db; }},
        {".DB gives db", {"--out", "A.DB"}, [](const LogOptions& o) { return o.format == LogFormat::Db; }},
        {".Db gives db", {"--out", "a.Db"}, [](const LogOptions& o) { return o.format == LogFormat::Db; }},
        {".xls gives text", {"--out", "a.xls"}, [](const LogOptions& o) { return o.format == LogFormat::Text; }},
        {"a dot in a folder only",
         {"--out", "d.csv/a"},
         [](const LogOptions& o) { return o.format == LogFormat::Text; }},
        {"--format beats the name",
         {"--out", "a.csv", "--format", "text"},
         [](const LogOptions& o) { return o.format == LogFormat::Text; }},
        {"--format=csv to stdout",
         {"--format=csv"},
         [](const LogOptions& o) { return o.format == LogFormat::Csv && o.out.empty(); }},
        {"--limit N", {"--limit", "7"}, [](const LogOptions& o) { return o.limit == 7 && o.limitGiven; }},
        {"--limit=0", {"--limit=0"}, [](const LogOptions& o) { return o.limit == 0 && o.limitGiven; }},
        {"--time 1.5", {"--time", "1.5"}, [](const LogOptions& o) { return o.timeSeconds && *o.timeSeconds == 1.5; }},
        {"--time=3600", {"--time=3600"}, [](const LogOptions& o) { return o.timeSeconds && *o.timeSeconds == 3600; }},
        {"--count=12 --interval 10 --repeat",
         {"--count=12", "--interval", "10", "--repeat"},
         [](const LogOptions& o) { return o.count == 12 && o.interval == 10 && o.repeat; }},
        {"--frames=FILE",
         {"--frames=f.txt"},
         [](const LogOptions& o) { return o.framesFile == "f.txt" && !o.simulate; }},
        {"single dash long option", {"-out", "a.csv"}, [](const LogOptions& o) { return o.out == "a.csv"; }},
    };
    for (const auto& c : cases) {
        LogOptions o;
        ASSERT_EQ(ParseLogArgs(c.args, o), -1) << c.name;
        EXPECT_TRUE(c.holds(o)) << c.name;
    }
}

}  // namespace
