// The logger's line writer on a file system that fills: the row cut in the middle by the full
// disk is taken off the file, and every row not in the file is in the fallback file.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <sys/mount.h>

#include "app/logsink.h"

namespace {

TEST(LogLineWriter, ARowCutByAFullDiskGoesWholeToTheFallback) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString disk = dir.filePath(QStringLiteral("disk"));
    ASSERT_TRUE(QDir().mkpath(disk));
    // One page of 4096 bytes: the header and 40 rows of 100 bytes fit in part of it.
    if (::mount("tmpfs", disk.toLocal8Bit().constData(), "tmpfs", 0, "size=4k") != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root (CAP_SYS_ADMIN): " << std::strerror(errno);
    struct Unmount {
        QString path;
        ~Unmount() { ::umount2(path.toLocal8Bit().constData(), MNT_DETACH); }
    } unmount{disk};
    const QString fallbackFolder = dir.filePath(QStringLiteral("fallback"));
    ASSERT_TRUE(QDir().mkpath(fallbackFolder));

    const std::string header = "header\r\n";
    auto row = [](int i) {
        std::string line = std::to_string(i) + ",";
        line.append(98 - line.size(), 'x');
        return line + "\r\n";
    };
    std::vector<std::string> said;
    const std::string path = (disk + QStringLiteral("/rows.csv")).toStdString();
    qputenv("TMPDIR", fallbackFolder.toLocal8Bit());
    {
        LogLineWriter w(path, header, [&](const std::string& m) { said.push_back(m); });
        std::string why;
        ASSERT_TRUE(w.Open(why)) << why;
        for (int i = 1; i <= 50; ++i) w.AddRow(row(i));
        EXPECT_TRUE(w.Failing());
        EXPECT_EQ(w.RowsWritten(), 40u);
        EXPECT_EQ(w.PendingRows(), 10u);
        EXPECT_EQ(w.Finish(), 10u);
    }
    qunsetenv("TMPDIR");

    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray written = f.readAll();
    std::string expected = header;
    for (int i = 1; i <= 40; ++i) expected += row(i);
    EXPECT_EQ(written.toStdString(), expected) << "the file ends with the last whole row";

    const QStringList fallbacks = QDir(fallbackFolder).entryList(QDir::Files);
    ASSERT_EQ(fallbacks.size(), 1);
    EXPECT_TRUE(fallbacks[0].startsWith(QStringLiteral("rows.unwritten-")) &&
                fallbacks[0].endsWith(QStringLiteral(".csv")))
        << fallbacks[0].toStdString();
    QFile fb(QDir(fallbackFolder).filePath(fallbacks[0]));
    ASSERT_TRUE(fb.open(QIODevice::ReadOnly));
    std::string rest = header;
    for (int i = 41; i <= 50; ++i) rest += row(i);
    EXPECT_EQ(fb.readAll().toStdString(), rest);

    ASSERT_GE(said.size(), 2u);
    EXPECT_NE(said.front().find("No space left on device"), std::string::npos) << said.front();
    EXPECT_NE(said.back().find(fb.fileName().toStdString()), std::string::npos) << said.back();
}

}  // namespace
