#pragma once
// Shared set-up of the window tests: the interactive hooks replaced by recorders so that no
// dialog blocks a test, and the one fixture every window test starts its window from.
#include <gtest/gtest.h>

#include <QAbstractSeries>
#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/appoptions.h"
#include "app/tfcomm.h"

// Records every message, error and quit request while it lives; puts the hooks back after.
struct QuietUi {
    std::vector<QString> messages;
    std::vector<QString> errors;
    int quitCalls = 0;

    QuietUi() {
        Ui::ShowMessage = [this](const QString& t) { messages.push_back(t); };
        Ui::ShowError = [this](const QString& t) { errors.push_back(t); };
        Ui::AskSaveBeforeExit = [] { return Ui::ExitChoice::Discard; };
        Ui::AskSaveRows = [](const QString&) { return Ui::ExitChoice::Discard; };
        Ui::AskYesNo = [](const QString&) { return false; };
        Ui::QuitApplication = [this] { quitCalls++; };
    }
    ~QuietUi() { Ui::ResetHooks(); }
    QuietUi(const QuietUi&) = delete;
    QuietUi& operator=(const QuietUi&) = delete;
};

// The window's control of that name (its objectName, the member's name). A control that is not
// there fails the test that asked for it (gtest reports the exception).
template <class T>
T* Control(const TFCOMM& w, const char* name) {
    T* c = w.findChild<T*>(QString::fromLatin1(name));
    if (!c) throw std::logic_error(std::string("the window has no control named ") + name + " of that type");
    return c;
}
// The chart of Chtshow, and its series of that name (Series2Line: the area series' upper line).
inline QChart* Chart(const TFCOMM& w) { return Control<QChartView>(w, "Chtshow")->chart(); }
template <class T>
T* Series(const TFCOMM& w, const char* name) {
    for (QAbstractSeries* s : Chart(w)->series()) {
        if (s->objectName() == QLatin1String(name))
            if (auto* t = qobject_cast<T*>(s)) return t;
        if (auto* area = qobject_cast<QAreaSeries*>(s))
            if (area->upperSeries() && area->upperSeries()->objectName() == QLatin1String(name))
                if (auto* t = qobject_cast<T*>(area->upperSeries())) return t;
    }
    throw std::logic_error(std::string("the chart has no series named ") + name + " of that type");
}

// A scratch folder holding a fresh, writable copy of the empty record table, and the window
// started over it. SetUp fails the test when the folder or the copy cannot be made: a test
// never runs silently without its table. A fixture whose test decides itself whether the
// table is there overrides SetUp and calls CopyTable when it wants one.
class WindowTest : public ::testing::Test {
protected:
    static constexpr const char* kTableName = "Ms35fdb.DB";

    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        CopyTable();
    }
    void TearDown() override {
        window_.reset();
        if (!oldCwd_.isEmpty()) QDir::setCurrent(oldCwd_);
    }

    // Copies the empty record table into the scratch folder (a fatal failure when it cannot).
    void CopyTable() {
        const QString source = QStringLiteral(MS42K_SOURCE_DIR "/data/Ms35fdb.DB");
        const QString target = dir_.filePath(QString::fromLatin1(kTableName));
        ASSERT_TRUE(QFile::copy(source, target))
            << "cannot copy " << source.toStdString() << " to " << target.toStdString();
        ASSERT_TRUE(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    }
    // The scratch folder becomes the working folder until the test ends.
    void EnterFolder() {
        if (oldCwd_.isEmpty()) oldCwd_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
    }
    // Starts the window over the options, shown or not, and lets its start-up events run.
    TFCOMM& StartWindow(const AppOptions& options = AppOptions{}, bool show = true) {
        window_ = std::make_unique<TFCOMM>(options);
        if (show) window_->show();
        QCoreApplication::processEvents();
        return *window_;
    }
    // Options with the scratch folder as the data folder.
    AppOptions InFolder() const {
        AppOptions o;
        o.dataDir = dir_.path().toStdString();
        return o;
    }
    TFCOMM& w() { return *window_; }

    QTemporaryDir dir_;
    QString oldCwd_;
    std::unique_ptr<TFCOMM> window_;
};
