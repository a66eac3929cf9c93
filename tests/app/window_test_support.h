#pragma once
// Shared set-up of the window tests: the interactive hooks replaced by recorders so that no
// dialog blocks a test, and a scratch folder holding a fresh copy of the empty record table.
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <vector>

#include "app/application.h"

// Records every message, error and quit request while it lives; puts the hooks back after.
struct QuietUi {
    std::vector<QString> messages;
    std::vector<QString> errors;
    int quitCalls = 0;

    QuietUi() {
        Ui::ShowMessage = [this](const QString& t) { messages.push_back(t); };
        Ui::ShowError = [this](const QString& t) { errors.push_back(t); };
        Ui::AskSaveBeforeExit = [] { return Ui::ExitChoice::Discard; };
        Ui::QuitApplication = [this] { quitCalls++; };
    }
    ~QuietUi() { Ui::ResetHooks(); }
    QuietUi(const QuietUi&) = delete;
    QuietUi& operator=(const QuietUi&) = delete;
};

// A temporary folder with a writable copy of the shipped empty record table Ms35fdb.DB.
struct ScratchTableFolder {
    QTemporaryDir dir;

    // True when the folder exists and holds the table.
    bool Prepare() {
        if (!dir.isValid()) return false;
        const QString target = dir.filePath(QStringLiteral("Ms35fdb.DB"));
        if (!QFile::copy(QStringLiteral(MS42K_SOURCE_DIR "/data/Ms35fdb.DB"), target)) return false;
        return QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    QString path() const { return dir.path(); }
    QString filePath(const QString& name) const { return dir.filePath(name); }
};
