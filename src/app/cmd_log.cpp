// ms42k log: the headless logger. It drives the USB cable as the window does (feature report,
// request, bursts joined into frames, the next request after each frame, the watchdog),
// decodes each complete frame, passes the reading through the recording gates and hands each
// recorded row to its output as it is recorded (app/logsink.h).
//
//   ms42k log [--simulate | --frames FILE] [--count N] [--time SECONDS] [--limit N]
//             [--interval SECONDS] [--repeat] [--format text|csv|db] [--out FILE]
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

#include "app/cli.h"
#include "app/logoptions.h"
#include "app/logsink.h"
#include "link/cableconnection.h"
#include "link/cablelink.h"
#include "link/hidcontroller.h"
#include "link/simcable_backend.h"
#include "meter/convert.h"
#include "meter/decoder.h"
#include "meter/segmentsymbols.h"
#include "records/csvwriter.h"
#include "records/datafiles.h"
#include "records/paradox.h"
#include "records/recorder.h"
#include "records/recordtable.h"

namespace {

// Pace of the replayed cable's reports without meter data.
constexpr int kReplayIdleIntervalUs = 500;

std::atomic<int> g_stopSignal{0};
extern "C" void OnStopSignal(int sig) { g_stopSignal.store(sig); }

// Why the output file cannot be written, or nothing when it can be tried.
std::optional<std::string> OutputProblem(const std::string& path) {
    const QFileInfo info(QString::fromStdString(path));
    if (info.isDir()) return path + " is a folder";
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir()) return "the folder of " + path + " does not exist";
    if (!folder.isWritable()) return "the folder of " + path + " is not writable";
    if (info.exists() && !info.isWritable()) return path + " is not writable";
    return std::nullopt;
}

// The cable's side: the connection the window uses, with the logger's own output.
class CableLogger {
public:
    CableLogger(THidDeviceController& ctl, const LogOptions& o, RecordTable& table)
        : ctl_(ctl), opt_(o), recorder_(table), link_(st_.Vars(), noFrameTicks_) {
        recorder_.Options.RecordLimit = o.limit;
        recorder_.Options.SamplingOn = o.interval.has_value();
        recorder_.Options.SamplingText = o.interval ? std::to_string(*o.interval) : "10";
        recorder_.Options.RepeatSuppression = o.repeat;
        link_.On.FrameReady = [this] { Decode(); };
        link_.On.MeterSilent = [this] { Finish(cable::kMeterSilentMessage, 1); };
        link_.On.CableRemoved = [this] { Finish("the USB interface cable was removed", 1); };
        link_.On.ReportHandled = [this] {
            ++handled_;
            if (!done_ && ReplayFinished()) Finish({}, 0);
        };
    }
    ~CableLogger() { Release(); }

    // Finds, takes and connects the cable; false (with the reason) when there is none to read.
    bool Take(std::string& why) {
        int32_t index = -1;
        QStringList names;
        std::vector<int32_t> positions;
        ctl_.SetOnEnumerate(THidEnumerateEvent::Bind(this, [&](THidDevice* d, int32_t i) {
            const HIDD_ATTRIBUTES a = d->HiddAttributes();
            names << cable::DeviceDisplayName(d->ProductText(), d->SerialText(), a.VendorID, a.ProductID);
            positions.push_back(i);
            return true;
        }));
        ctl_.EnumerateDevices();
        ctl_.SetOnEnumerate({});
        const int row = cable::SelectCableEntry(names);
        if (row < 0) {
            why = "no USB interface cable found (no HID device named \"" + std::string(cable::kProductName) +
                  "\" without a serial number)";
            return false;
        }
        index = positions[size_t(row)];
        if (!ctl_.TakeByIndex(index, device_) || !device_) {
            why = "the USB interface cable is in use";
            return false;
        }
        ctl_.SetOnRemoval(THidPlugEvent::Bind(this, [this](THidDevice* d) { link_.DeviceRemoved(d); }));
        device_->SetDataErrorHandler(THidDataErrorEvent::Bind(this, [](THidDevice*, uint32_t error) {
            std::fprintf(stderr, "\n%s\n",
                         cable::ReadErrorLine(cable::SystemErrorText(error), error).toLocal8Bit().constData());
        }));
        link_.SetCable(device_);
        if (!link_.Connect(cable::FeatureBufferForBaud(9600))) {
            why = "the USB interface cable cannot be used: " + link_.RefusalReason().toStdString();
            Release();
            return false;
        }
        return true;
    }

    // One watchdog tick (every 100 ms).
    void Tick() {
        if (done_) return;
        if (ReplayFinished()) {
            Finish({}, 0);
            return;
        }
        link_.Tick();
    }
    void SamplingTick() { recorder_.Tick(); }

    // Stops reading; the event loop ends with the given status.
    void Finish(const std::string& why, int status) {
        if (done_) return;
        done_ = true;
        why_ = why;
        status_ = status;
        link_.Disconnect();
        QCoreApplication::exit(status);
    }
    void Release() {
        link_.Close();
        if (!device_) return;
        THidDevice* d = device_;
        device_ = nullptr;
        delete d;  // stops the reader and gives the device back
    }

    void SetReplay(SimCableBackend* sim) { replay_ = sim; }
    void PrintProgress(bool final, int64_t elapsedMs) {
        const bool tty = isatty(STDERR_FILENO);
        if (!tty && !final) return;
        std::fprintf(stderr, "%s%s", tty ? "\r\033[K" : "",
                     ProgressText(decoded_, recorder_.RecordsAppended, elapsedMs, last_).c_str());
        if (final) std::fputc('\n', stderr);
        std::fflush(stderr);
    }

    uint64_t Decoded() const { return decoded_; }
    int Status() const { return status_; }
    const std::string& Why() const { return why_; }
    int32_t RowsRecorded() const { return recorder_.RecordsAppended; }
    uint64_t FailedFrames() const { return failed_; }
    // Each reading offered to the gates, with the gates' answer and the moment of the offer.
    std::function<void(GateResult, const QDateTime&)> OnOffered;

private:
    // A replay is over when the meter has sent its last frame and every report the cable
    // put out has been handled here.
    bool ReplayFinished() const { return replay_ && replay_->ReplayDone() && handled_ == replay_->Stats().reportsSent; }

    void Decode() {
        noFrameTicks_ = 0;
        const DecodeResult r = DecodeFrame(st_.FrameHex);
        if (!r.Reached(17)) {
            // The window logs such a frame and goes on; so does the logger.
            ++failed_;
            std::fprintf(stderr, "\nframe not recorded: %s\n", r.Error.c_str());
            return;
        }
        const Reading reading = ReadingFrom(r);
        try {
            const QDateTime at = QDateTime::currentDateTime();
            const GateResult gate = recorder_.Offer(reading, LocalDateTime(at));
            if (OnOffered) OnOffered(gate, at);
        } catch (const std::exception& e) {
            // Recording failed for this reading: said once per frame, reading goes on.
            std::fprintf(stderr, "\nreading not recorded: %s\n", e.what());
        }
        ++decoded_;
        last_ = (r.ValueText + " " + SegmentText(r.SymbolText).toStdString() + " " + r.AcDcText + " " + r.AutoText);
        if (opt_.count && decoded_ >= uint64_t(*opt_.count)) Finish({}, 0);
    }

    THidDeviceController& ctl_;
    LogOptions opt_;
    Recorder recorder_;
    cable::CableState st_;
    int32_t noFrameTicks_ = 0;
    CableConnection link_;
    THidDevice* device_ = nullptr;
    SimCableBackend* replay_ = nullptr;
    bool done_ = false;
    int status_ = 0;
    std::string why_;
    std::string last_;
    uint64_t decoded_ = 0;
    uint64_t failed_ = 0;
    uint64_t handled_ = 0;
};

// An empty record table in a folder of its own, open for recording.
void OpenEmptyTable(RecordTable& table, const QTemporaryDir& dir) {
    const std::string path = QDir(dir.path()).filePath(QStringLiteral("Ms35fdb.DB")).toStdString();
    WriteEmptyRecordTable(path);
    table.Open(path);
}

// One message of the logger on standard error, on a line of its own (the progress line, if
// any, is cleared first and drawn again at its next update).
void Say(const std::string& text) {
    std::fprintf(stderr, "%sms42k log: %s\n", isatty(STDERR_FILENO) ? "\r\033[K" : "", text.c_str());
    std::fflush(stderr);
}

const char* SignalName(int sig) {
    switch (sig) {
        case SIGINT: return "Ctrl+C (SIGINT)";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "a signal";
    }
}

std::string SecondsText(double s) {
    char b[32];
    std::snprintf(b, sizeof b, "%g", s);
    return b;
}

}  // namespace

int CmdLog(const CliArgs& args) {
    LogOptions o;
    if (const int status = ParseLogArgs(args, o); status >= 0) return status;
    if (!o.out.empty()) {
        if (auto problem = OutputProblem(o.out)) {
            std::fprintf(stderr, "ms42k log: cannot write the output: %s\n", problem->c_str());
            return 1;
        }
    }

    // The hand-over of the cable's reader needs an event loop.
    const auto ownApp = SubcommandApplication();

    std::shared_ptr<HidBackend> backend;
    SimCableBackend* sim = nullptr;
    if (!o.framesFile.empty()) {
        QString error;
        auto frames = SimMeter::LoadHexLines(QString::fromStdString(o.framesFile), &error);
        if (!frames) {
            std::fprintf(stderr, "ms42k log: %s\n", error.toLocal8Bit().constData());
            return 1;
        }
        // Replayed as fast as the watchdog allows: reports with meter data at once, reports
        // without at a pace that keeps their number between two checks of the watchdog (every
        // 300 ms) well below 3000, so that a spoilt frame in the file is answered by a
        // repeated request instead of ending the run.
        SimCableOptions so;
        so.reportIntervalUs = 0;
        so.idleIntervalUs = kReplayIdleIntervalUs;
        so.answerDelayReports = 2;
        auto s = std::make_shared<SimCableBackend>(so);
        s->SetReplay(std::move(*frames));
        sim = s.get();
        backend = s;
    } else if (o.simulate) {
        backend = std::make_shared<SimCableBackend>();
    }

    QTemporaryDir tableDir;
    RecordTable table;
    try {
        if (!tableDir.isValid()) throw TableError("no temporary folder for the record table");
        OpenEmptyTable(table, tableDir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ms42k log: %s\n", e.what());
        return 1;
    }

    int status = 0;
    std::string why;
    uint64_t decoded = 0;
    int sinkStatus = 0;
    {
        THidDeviceController ctl(nullptr, backend);
        CableLogger logger(ctl, o, table);
        std::string notFound;
        if (!logger.Take(notFound)) {
            std::fprintf(stderr, "ms42k log: %s\n", notFound.c_str());
            return 1;
        }
        logger.SetReplay(sim);

        // The output is made once the cable is there: each recorded row goes out at once.
        LogSink sink(o, table, Say);
        if (std::string problem; !sink.Open(problem)) {
            std::fprintf(stderr, "ms42k log: %s\n", problem.c_str());
            return 1;
        }
        logger.OnOffered = [&](GateResult gate, const QDateTime& at) {
            if (gate == GateResult::Appended) sink.RowRecorded(at);
            if (gate == GateResult::LimitReached && o.limitGiven)
                logger.Finish("the record limit of " + std::to_string(o.limit) + " rows is reached; the run ends", 0);
        };

        g_stopSignal.store(0);
        struct sigaction sa {};
        struct sigaction oldInt {
        }, oldTerm{}, oldHup{}, oldPipe{};
        sa.sa_handler = OnStopSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, &oldInt);
        sigaction(SIGTERM, &sa, &oldTerm);
        sigaction(SIGHUP, &sa, &oldHup);
        // A reader that goes away (a pipe into head) is seen as a failed write, not a signal.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &oldPipe);

        // Rows on a terminal's standard output and the progress line would run into each other.
        const bool liveProgress = !(o.out.empty() && isatty(STDOUT_FILENO));
        QElapsedTimer clock;
        clock.start();
        QTimer watchdog, sampling, progress, signalPoll, outputTick, timeLimit;
        QObject::connect(&watchdog, &QTimer::timeout, [&] { logger.Tick(); });
        QObject::connect(&sampling, &QTimer::timeout, [&] { logger.SamplingTick(); });
        QObject::connect(&progress, &QTimer::timeout, [&] { logger.PrintProgress(false, clock.elapsed()); });
        QObject::connect(&signalPoll, &QTimer::timeout, [&] {
            if (g_stopSignal.load()) logger.Finish({}, 0);
            if (sink.ReaderGone()) logger.Finish("standard output was closed by its reader; the run ends", 0);
        });
        QObject::connect(&outputTick, &QTimer::timeout, [&] { sink.Tick(); });
        QObject::connect(&timeLimit, &QTimer::timeout, [&] {
            logger.Finish("the --time of " + SecondsText(*o.timeSeconds) + " s is over; the run ends", 0);
        });
        watchdog.start(100);
        sampling.start(1000);
        if (liveProgress) progress.start(250);
        signalPoll.start(50);
        outputTick.start(1000);
        if (o.timeSeconds) {
            timeLimit.setSingleShot(true);
            timeLimit.setTimerType(Qt::PreciseTimer);
            timeLimit.start(int(std::min(*o.timeSeconds * 1000.0, double(INT32_MAX))));
        }

        QCoreApplication::exec();

        watchdog.stop();
        sampling.stop();
        progress.stop();
        signalPoll.stop();
        outputTick.stop();
        timeLimit.stop();
        logger.Finish(logger.Why(), logger.Status());
        logger.Release();
        logger.PrintProgress(true, clock.elapsed());
        status = logger.Status();
        why = logger.Why();
        decoded = logger.Decoded();
        if (const int sig = g_stopSignal.load()) Say(std::string("stopped by ") + SignalName(sig));
        if (!why.empty()) Say(why);

        // Whatever ended the run, what was recorded is written. The signals stay caught
        // until then, so that a second one does not cut the last writes short.
        sinkStatus = sink.Finish(decoded);
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGTERM, &oldTerm, nullptr);
        sigaction(SIGHUP, &oldHup, nullptr);
        sigaction(SIGPIPE, &oldPipe, nullptr);
    }
    return status != 0 ? status : sinkStatus;
}
