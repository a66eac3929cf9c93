#pragma once
// Running ms42k log as a child process of a test, and reading what it wrote.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <functional>

#include "link/simmeter.h"

namespace logger_test {

const QString kProgram = QStringLiteral(MS42K_BINARY_DIR "/ms42k");

// The rows of a text or CSV output: the complete lines after the header, split into fields;
// a last line without its CR LF (a row cut by a kill) is not counted.
struct Output {
    QString header;
    std::vector<QStringList> rows;
    bool endsWithWholeLine = true;
};
inline Output ReadOutput(const QString& path, QChar separator) {
    Output out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return out;
    const QString text = QString::fromUtf8(f.readAll());
    QStringList lines = text.split(QStringLiteral("\r\n"));
    out.endsWithWholeLine = lines.last().isEmpty();
    lines.removeLast();  // the part after the last CR LF
    if (lines.isEmpty()) return out;
    out.header = lines.takeFirst();
    for (const QString& l : lines) out.rows.push_back(l.split(separator));
    return out;
}

// The numbers of the rows ("No" first in text, second in CSV).
inline std::vector<int> Numbers(const Output& o, int column) {
    std::vector<int> n;
    for (const auto& r : o.rows) n.push_back(r.value(column).toInt());
    return n;
}

inline bool Consecutive(const std::vector<int>& n, int first) {
    for (size_t i = 0; i < n.size(); ++i)
        if (n[i] != first + int(i)) return false;
    return true;
}

// A logger run in a child process.
class Child {
public:
    explicit Child(const QString& folder, const QString& tmpdir = {}) {
        p_.setWorkingDirectory(folder);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!tmpdir.isEmpty()) env.insert(QStringLiteral("TMPDIR"), tmpdir);
        p_.setProcessEnvironment(env);
    }
    ~Child() {
        if (p_.state() != QProcess::NotRunning) {
            p_.kill();
            p_.waitForFinished(5000);
        }
    }
    void Start(const QStringList& args) {
        p_.start(kProgram, QStringList{QStringLiteral("log")} + args);
        ASSERT_TRUE(p_.waitForStarted(10000)) << p_.errorString().toStdString();
    }
    // Waits until `done` holds (or the child ends, or a minute passes); true when it holds.
    bool WaitFor(const std::function<bool()>& done) {
        for (int i = 0; i < 1200; ++i) {
            Pump(50);
            if (done()) return true;
            if (p_.state() == QProcess::NotRunning) return done();
        }
        return false;
    }
    // Waits for the end; the exit status, -1 when the child died of a signal or never ended.
    int Finish(int seconds = 60) {
        for (int i = 0; i < seconds * 20 && p_.state() != QProcess::NotRunning; ++i) Pump(50);
        Pump(0);
        if (p_.state() != QProcess::NotRunning || p_.exitStatus() != QProcess::NormalExit) return -1;
        return p_.exitCode();
    }
    void Signal(int sig) { ::kill(pid_t(p_.processId()), sig); }
    bool Running() const { return p_.state() == QProcess::Running; }
    const QString& Err() const { return err_; }
    const QByteArray& Out() const { return out_; }
    // The row count of the final progress line ("frames F  rows R ...").
    int RowsReported() const {
        const auto m = QRegularExpression(QStringLiteral("frames \\d+  rows (\\d+)")).match(err_);
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    }

private:
    void Pump(int ms) {
        if (p_.state() != QProcess::NotRunning) p_.waitForReadyRead(ms);
        err_ += QString::fromUtf8(p_.readAllStandardError());
        out_ += p_.readAllStandardOutput();
    }
    QProcess p_;
    QString err_;
    QByteArray out_;
};

class LoggerRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(QFile::exists(kProgram)) << "the program is built beside the tests";
        ASSERT_TRUE(QDir().mkpath(Tmp()));
    }
    QString Path(const QString& name) const { return dir_.filePath(name); }
    // The temporary folder of the children (where fallback files go when the output's folder
    // cannot take them).
    QString Tmp() const { return dir_.filePath(QStringLiteral("tmp")); }
    QStringList Fallbacks() const { return QDir(Tmp()).entryList(QDir::Files); }
    QTemporaryDir dir_;
};

// A frames file of n frames of the simulated meter's cycle.
inline QString WriteFrames(const QString& path, uint64_t n, int framesPerScene) {
    SimMeter meter;
    meter.SetFramesPerScene(framesPerScene);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return {};
    for (uint64_t k = 0; k < n; ++k) {
        const Frame frame = meter.CycleFrame(k);
        f.write(QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size())).toHex(' ') + '\n');
    }
    return path;
}

}  // namespace logger_test
