// ms42k log: the headless logger. It drives the USB cable as the window does (feature report,
// request, bursts joined into frames, the next request after each frame, the watchdog),
// decodes each complete frame, passes the reading through the recording gates and, at the
// end, writes what was recorded with the same writers as Save.
//
//   ms42k log [--simulate | --frames FILE] [--count N] [--limit N] [--interval SECONDS]
//             [--repeat] [--out FILE]
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

#include "app/cli.h"
#include "link/cableconnection.h"
#include "link/cablelink.h"
#include "link/hidcontroller.h"
#include "link/simcable_backend.h"
#include "meter/convert.h"
#include "meter/decoder.h"
#include "meter/segmentsymbols.h"
#include "records/datafiles.h"
#include "records/paradox.h"
#include "records/recorder.h"
#include "records/recordtable.h"

namespace {

constexpr const char* kUsage =
    "usage: ms42k log [--simulate | --frames FILE] [--count N] [--limit N] [--interval SECONDS]\n"
    "                 [--repeat] [--out FILE]\n"
    "  --simulate          read the simulated cable and meter instead of the real cable\n"
    "  --frames FILE       the simulated cable replays the frames of FILE (one hex line each)\n"
    "                      and the logger stops at its end\n"
    "  --count N           stop after N decoded frames\n"
    "  --limit N           record limit (as the Record menu; default 10000)\n"
    "  --interval SECONDS  sampling interval: record at most one reading per interval\n"
    "  --repeat            drop a reading equal to the last recorded one\n"
    "  --out FILE          write the recorded rows to FILE (.db: Paradox copy, else text);\n"
    "                      without it the text form goes to standard output\n";

// Pace of the replayed cable's reports without meter data.
constexpr int kReplayIdleIntervalUs = 500;

std::atomic<int> g_stopSignal{0};
extern "C" void OnStopSignal(int sig) { g_stopSignal.store(sig); }

struct LogOptions {
    bool simulate = false;
    std::string framesFile;
    std::optional<int64_t> count;
    int32_t limit = 10000;
    std::optional<int32_t> interval;
    bool repeat = false;
    std::string out;
};

// A whole non-negative decimal number; nothing for anything else.
std::optional<int64_t> Count(const std::string& text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    return std::stoll(text);
}

// Parses the arguments; an error text when they are not usable.
std::string Parse(const CliArgs& args, LogOptions& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= args.size()) return false;
            v = args[++i];
            return true;
        };
        std::string v;
        if (a == "--simulate") {
            o.simulate = true;
        } else if (a == "--repeat") {
            o.repeat = true;
        } else if (a == "--frames") {
            if (!value(o.framesFile)) return "--frames needs a file";
        } else if (a == "--out") {
            if (!value(o.out)) return "--out needs a file";
        } else if (a == "--count") {
            if (!value(v) || !Count(v) || *Count(v) == 0) return "--count needs a whole number of frames, 1 or more";
            o.count = *Count(v);
        } else if (a == "--limit") {
            if (!value(v) || !Count(v) || *Count(v) > INT32_MAX) return "--limit needs a whole number of rows";
            o.limit = int32_t(*Count(v));
        } else if (a == "--interval") {
            if (!value(v) || !Count(v) || *Count(v) > INT32_MAX) return "--interval needs a whole number of seconds";
            o.interval = int32_t(*Count(v));
        } else {
            return "unknown option '" + a + "'";
        }
    }
    if (o.simulate && !o.framesFile.empty()) return "--simulate and --frames exclude each other";
    return {};
}

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
            std::fprintf(stderr, "\n%s\n", cable::ReadErrorLine(cable::SystemErrorText(error), error).toLocal8Bit().constData());
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
    void PrintProgress(bool final) {
        const bool tty = isatty(STDERR_FILENO);
        if (!tty && !final) return;
        std::fprintf(stderr, "%sframes %llu  rows %d  %s", tty ? "\r\033[K" : "",
                     static_cast<unsigned long long>(decoded_), recorder_.RecordsAppended, last_.c_str());
        if (final) std::fputc('\n', stderr);
        std::fflush(stderr);
    }

    uint64_t Decoded() const { return decoded_; }
    int Status() const { return status_; }
    const std::string& Why() const { return why_; }
    int32_t RowsRecorded() const { return recorder_.RecordsAppended; }
    uint64_t FailedFrames() const { return failed_; }

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
        Reading reading;
        reading.ValueText = r.ValueText;
        reading.AcDcText = r.AcDcText;
        reading.SymbolText = r.SymbolText;
        reading.AutoText = r.AutoText;
        reading.ValueNum = r.ValueNum;
        try {
            recorder_.Offer(reading);
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
    PxWriteOptions opt;
    opt.tableName = "Ms35fdb.DB";
    const PxSchema schema = RecordTable::DefaultSchema();
    const std::vector<uint8_t> blank(schema.recordSize, 0);
    const std::vector<uint8_t> bytes =
        WriteParadox(schema, 0, [&blank](size_t) -> const uint8_t* { return blank.data(); }, opt);
    WriteFileAtomically(path, bytes.data(), bytes.size());
    table.Open(path);
}

}  // namespace

int CmdLog(const CliArgs& args) {
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            std::printf("%s", kUsage);
            return 0;
        }
    }
    LogOptions o;
    if (const std::string err = Parse(args, o); !err.empty()) {
        std::fprintf(stderr, "ms42k log: %s\n%s", err.c_str(), kUsage);
        return 2;
    }
    if (!o.out.empty()) {
        if (auto problem = OutputProblem(o.out)) {
            std::fprintf(stderr, "ms42k log: cannot write the output: %s\n", problem->c_str());
            return 1;
        }
    }

    // The hand-over of the cable's reader needs an event loop.
    std::unique_ptr<QCoreApplication> ownApp;
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "ms42k";
        static char* argv[] = {name, nullptr};
        ownApp = std::make_unique<QCoreApplication>(argc, argv);
    }

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
    {
        THidDeviceController ctl(nullptr, backend);
        CableLogger logger(ctl, o, table);
        std::string notFound;
        if (!logger.Take(notFound)) {
            std::fprintf(stderr, "ms42k log: %s\n", notFound.c_str());
            return 1;
        }
        logger.SetReplay(sim);

        g_stopSignal.store(0);
        struct sigaction sa {};
        struct sigaction oldInt {}, oldTerm {};
        sa.sa_handler = OnStopSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, &oldInt);
        sigaction(SIGTERM, &sa, &oldTerm);

        QTimer watchdog, sampling, progress, signalPoll;
        QObject::connect(&watchdog, &QTimer::timeout, [&] { logger.Tick(); });
        QObject::connect(&sampling, &QTimer::timeout, [&] { logger.SamplingTick(); });
        QObject::connect(&progress, &QTimer::timeout, [&] { logger.PrintProgress(false); });
        QObject::connect(&signalPoll, &QTimer::timeout, [&] {
            if (g_stopSignal.load()) logger.Finish({}, 0);
        });
        watchdog.start(100);
        sampling.start(1000);
        progress.start(250);
        signalPoll.start(50);

        QCoreApplication::exec();

        watchdog.stop();
        sampling.stop();
        progress.stop();
        signalPoll.stop();
        logger.Finish(logger.Why(), logger.Status());
        logger.Release();
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGTERM, &oldTerm, nullptr);
        logger.PrintProgress(true);
        status = logger.Status();
        why = logger.Why();
        decoded = logger.Decoded();
        if (const int sig = g_stopSignal.load())
            std::fprintf(stderr, "ms42k log: stopped by %s\n", sig == SIGINT ? "Ctrl+C" : "SIGTERM");
    }
    if (!why.empty()) std::fprintf(stderr, "ms42k log: %s\n", why.c_str());

    // Whatever ended the run, what was recorded is written.
    if (o.out.empty()) {
        const std::string text = TextForm(table);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    } else {
        try {
            const SaveOutcome saved = SaveTable(table, o.out);
            for (const auto& note : saved.notes) std::fprintf(stderr, "warning: %s\n", note.c_str());
            std::fprintf(stderr, "ms42k log: %zu rows from %llu frames saved to %s\n", saved.rows,
                         static_cast<unsigned long long>(decoded), o.out.c_str());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "ms42k log: %s\n", e.what());
            return 1;
        }
    }
    return status;
}
