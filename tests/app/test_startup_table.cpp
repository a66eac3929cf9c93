// Start-up step 5 in a folder without the record table: the empty table is made from the
// template installed with the program, with one log line; a table that is there but cannot
// be opened stays a start-up error. And the user's own working folder of the desktop start.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>

#include "app/startfolder.h"
#include "app/tfcomm.h"
#include "records/recordtable.h"
#include "window_test_support.h"

namespace {

const QString kTemplate = QStringLiteral(MS42K_SOURCE_DIR "/data/Ms35fdb.DB");

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

int LogLinesWith(const TFCOMM& w, const QString& text) {
    int n = 0;
    for (int i = 0; i < Control<QListWidget>(w, "HistoryListBox")->count(); ++i)
        n += Control<QListWidget>(w, "HistoryListBox")->item(i)->text().contains(text);
    return n;
}

TEST(StartupTable, FolderStatesAtStartUp) {
    struct Case {
        const char* what;
        std::function<void(const QDir&)> prepare;  // the working folder before the start
        bool useTemplate;
        const char* folder;      // working folder below the scratch folder ("" = itself)
        bool opens;              // the record table is open after start-up
        int createdLines;        // log lines saying the table was made
        const char* errorNames;  // start-up error naming this ("" = no error)
        const char* tableFile;   // file that must hold the template's bytes afterwards ("" = none)
        int entriesAfter;        // entries of the scratch folder after the start
    };
    const QByteArray garbage("this is not a Paradox table\n");
    const Case cases[] = {
        {"empty folder gets the table", [](const QDir&) {}, true, "", true, 1, "", "Ms35fdb.DB", 1},
        {"existing table is opened as it is", [](const QDir& d) { QFile::copy(kTemplate, d.filePath("Ms35fdb.DB")); },
         true, "", true, 0, "", "Ms35fdb.DB", 1},
        {"table in other letter case is used, none added",
         [](const QDir& d) { QFile::copy(kTemplate, d.filePath("ms35fdb.db")); }, true, "", true, 0, "", "ms35fdb.db",
         1},
        {"unreadable table stays the start-up error and is left alone",
         [&](const QDir& d) {
             QFile f(d.filePath("Ms35fdb.DB"));
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.write(garbage);
         },
         true, "", false, 0, "Ms35fdb.DB", "", 1},
        {"a folder in the table's place is not replaced", [](const QDir& d) { d.mkdir("Ms35fdb.DB"); }, true, "", false,
         0, "Ms35fdb.DB", "", 1},
        {"no template: the missing table is reported", [](const QDir&) {}, false, "", false, 0, "Ms35fdb.DB", "", 0},
        {"folder that does not exist: the failed copy is reported", [](const QDir&) {}, true, "gone", false, 0,
         "Cannot create the record table", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir scratch;
        ASSERT_TRUE(scratch.isValid());
        const QDir dir(scratch.path());
        c.prepare(dir);
        const QString work = *c.folder ? dir.filePath(QString::fromLatin1(c.folder)) : dir.path();
        QuietUi ui;
        AppOptions o;
        o.dataDir = work.toStdString();
        o.tableTemplate = c.useTemplate ? kTemplate.toStdString() : dir.filePath("no-template.DB").toStdString();
        auto w = std::make_unique<TFCOMM>(o);
        EXPECT_EQ(w->T22GDB->IsOpen(), c.opens);
        EXPECT_EQ(LogLinesWith(*w, QStringLiteral("Created the empty record table")), c.createdLines);
        if (*c.errorNames) {
            ASSERT_EQ(ui.errors.size(), 1u);
            EXPECT_TRUE(ui.errors[0].contains(QString::fromLatin1(c.errorNames))) << ui.errors[0].toStdString();
        } else {
            EXPECT_TRUE(ui.errors.empty()) << ui.errors.front().toStdString();
        }
        if (*c.tableFile) {
            EXPECT_EQ(ReadAll(dir.filePath(QString::fromLatin1(c.tableFile))), ReadAll(kTemplate));
        }
        if (c.createdLines) {
            // The line names the table it made, which its owner may write.
            EXPECT_EQ(LogLinesWith(*w, dir.filePath("Ms35fdb.DB")), 1);
            EXPECT_TRUE(QFile::permissions(dir.filePath("Ms35fdb.DB")) & QFileDevice::WriteOwner);
        }
        w.reset();
        // Nothing else appears, and nothing that was there is changed.
        EXPECT_EQ(dir.entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).size(), c.entriesAfter);
        if (QFileInfo(dir.filePath("Ms35fdb.DB")).isFile() && !*c.tableFile) {
            EXPECT_EQ(ReadAll(dir.filePath("Ms35fdb.DB")), garbage);
        }
    }
}

// The build writes the template beside the program (build/share/ms42k); a test binary one
// folder below finds it through ../share/ms42k as the installed program does.
TEST(StartupTable, TemplateIsFoundBesideTheProgram) {
    const QString found = FindRecordTableTemplate();
    EXPECT_EQ(found, QDir::cleanPath(QStringLiteral(MS42K_BINARY_DIR "/share/ms42k/Ms35fdb.DB")));
    EXPECT_EQ(ReadAll(found), ReadAll(kTemplate));
}

TEST(StartupTable, UserFolderIsMadeAndEntered) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    const QString oldCwd = QDir::currentPath();
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toLocal8Bit());
    EXPECT_EQ(UserWorkFolder(), home.filePath("Documents/ms42k"));
    EXPECT_EQ(EnterUserWorkFolder(), QString());
    EXPECT_EQ(QDir::currentPath(), QDir(home.filePath("Documents/ms42k")).canonicalPath());
    // A file where the folder should be: said, and the current folder stays.
    QDir::setCurrent(oldCwd);
    ASSERT_TRUE(QDir(home.filePath("Documents/ms42k")).removeRecursively());
    QFile blocker(home.filePath("Documents/ms42k"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_TRUE(EnterUserWorkFolder().contains(home.filePath("Documents/ms42k")));
    EXPECT_EQ(QDir::currentPath(), oldCwd);
    qputenv("HOME", oldHome);
    if (oldConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfig);
    QDir::setCurrent(oldCwd);
}

}  // namespace
