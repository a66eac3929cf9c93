#include "app/startfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <stdexcept>

QString UserWorkFolder() {
    QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (docs.isEmpty()) docs = QDir::homePath() + QStringLiteral("/Documents");
    return QDir(docs).filePath(QStringLiteral("ms42k"));
}

QString EnterUserWorkFolder() {
    const QString dir = UserWorkFolder();
    if (!QDir().mkpath(dir)) return QStringLiteral("cannot create the working folder %1").arg(dir);
    if (!QDir::setCurrent(dir)) return QStringLiteral("cannot change into the working folder %1").arg(dir);
    return {};
}

QString FindRecordTableTemplate() {
    // Before QCoreApplication exists there is no program folder to look in.
    if (!QCoreApplication::instance()) return {};
    const QDir bin(QCoreApplication::applicationDirPath());
    for (const char* rel : {"../share/ms42k/Ms35fdb.DB", "share/ms42k/Ms35fdb.DB"}) {
        const QString p = QDir::cleanPath(bin.filePath(QString::fromLatin1(rel)));
        if (QFileInfo(p).isFile()) return p;
    }
    return {};
}

QString CreateRecordTableFromTemplate(const QString& tablePath, const QString& templatePath) {
    const QFileInfo table(tablePath);
    // A file, a folder or a dangling link of that name: not ours to replace.
    if (table.exists() || table.isSymLink()) return {};
    if (templatePath.isEmpty() || !QFileInfo(templatePath).isFile()) return {};
    QFile source(templatePath);
    if (!source.copy(tablePath)) {
        throw std::runtime_error(QStringLiteral("Cannot create the record table %1 from %2: %3")
                                     .arg(tablePath, templatePath, source.errorString())
                                     .toStdString());
    }
    QFile::setPermissions(
        tablePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    return QStringLiteral("Created the empty record table %1 from %2")
        .arg(QFileInfo(tablePath).absoluteFilePath(), templatePath);
}
