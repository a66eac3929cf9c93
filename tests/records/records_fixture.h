#pragma once
// A scratch folder per test with a copy of the shipped empty record table.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <string>

#include "records/recordtable.h"

class ScratchFolder {
public:
    ScratchFolder() { EXPECT_TRUE(dir_.isValid()); }
    std::string Path(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }
    // A writable copy of a file of the test data folder.
    std::string Copy(const std::string& dataFile, const std::string& as) const {
        const QString dst = QString::fromStdString(Path(as));
        QFile::remove(dst);
        EXPECT_TRUE(QFile::copy(QString::fromStdString(std::string(MS42K_TEST_DATA) + "/" + dataFile), dst))
            << dataFile;
        QFile::setPermissions(
            dst, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        return dst.toStdString();
    }
    std::string Folder() const { return dir_.path().toStdString(); }

private:
    QTemporaryDir dir_;
};

inline std::string ReadFileText(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll().toStdString();
}

inline void WriteFileText(const std::string& path, const std::string& text) {
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.data(), qint64(text.size()));
}
