// Cost of the live display: one frame through LcdDisplay42 in the offscreen window with a
// record table of one million rows, next to the decoder alone and the gauge drawing.
//
//   bench_meter [--rows N] [google-benchmark flags]
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/tfcomm.h"
#include "meter/decoder.h"
#include "meter/meterframe.h"
#include "records/recordtable.h"
#include "records/recordtablemodel.h"

namespace {
TFCOMM* gWindow = nullptr;

std::string WaveFrame() {
    FrameContent c;
    c.wave.resize(320);
    for (int i = 0; i < 320; ++i) c.wave[size_t(i)] = uint8_t((i * 7) % 256);
    return EncodeFrame(c);
}

// Frames that differ from one another, so repeat suppression never drops one.
std::vector<std::string> ReadingFrames() {
    std::vector<std::string> frames;
    for (int i = 0; i < 100; ++i) {
        FrameContent c;
        char text[8];
        std::snprintf(text, sizeof text, "%02d.%02d", i % 40, (i * 37) % 100);
        c.display = text;
        frames.push_back(EncodeFrame(c));
    }
    return frames;
}

void BM_DecodeFrame(benchmark::State& state) {
    const std::string frame = kTestFrameHex;
    for (auto _ : state) benchmark::DoNotOptimize(DecodeFrame(frame));
}
BENCHMARK(BM_DecodeFrame);

void BM_DecodeWaveFrame(benchmark::State& state) {
    const std::string frame = WaveFrame();
    for (auto _ : state) benchmark::DoNotOptimize(DecodeFrame(frame));
}
BENCHMARK(BM_DecodeWaveFrame);

void BM_LcdDisplay42_Reading(benchmark::State& state) {
    const std::vector<std::string> frames = ReadingFrames();
    size_t i = 0;
    for (auto _ : state) {
        gWindow->State.FrameHex = frames[i++ % frames.size()];
        gWindow->LcdDisplay42();
    }
    state.counters["rows"] = double(gWindow->T22GDB->RowCount());
}
BENCHMARK(BM_LcdDisplay42_Reading)->Name("LcdDisplay42/reading, handler only")->Unit(benchmark::kMicrosecond);

// The same frames with the record limit reached: the pass without appending a row.
void BM_LcdDisplay42_LimitReached(benchmark::State& state) {
    const std::vector<std::string> frames = ReadingFrames();
    const int32_t limit = gWindow->State.RecordLimit;
    gWindow->State.RecordLimit = 0;
    size_t i = 0;
    for (auto _ : state) {
        gWindow->State.FrameHex = frames[i++ % frames.size()];
        gWindow->LcdDisplay42();
    }
    gWindow->State.RecordLimit = limit;
}
BENCHMARK(BM_LcdDisplay42_LimitReached)
    ->Name("LcdDisplay42/limit reached, handler only")
    ->Unit(benchmark::kMicrosecond);

void BM_LcdDisplay42_Waveform(benchmark::State& state) {
    const std::string frame = WaveFrame();
    for (auto _ : state) {
        gWindow->State.FrameHex = frame;
        gWindow->LcdDisplay42();
    }
    state.counters["rows"] = double(gWindow->T22GDB->RowCount());
}
BENCHMARK(BM_LcdDisplay42_Waveform)->Name("LcdDisplay42/waveform, handler only")->Unit(benchmark::kMicrosecond);

// One frame including the repaint it causes (LCD, gauge, bar, grid, chart): the event loop
// runs after each frame, so the grid's row announcement and its paint are counted.
void BM_LcdDisplay42_WithRepaint(benchmark::State& state) {
    const std::vector<std::string> frames = ReadingFrames();
    size_t i = 0;
    for (auto _ : state) {
        gWindow->State.FrameHex = frames[i++ % frames.size()];
        gWindow->LcdDisplay42();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_LcdDisplay42_WithRepaint)
    ->Name("LcdDisplay42/reading with paint")
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime();

void BM_KDrun(benchmark::State& state) {
    int p = 0;
    for (auto _ : state) gWindow->KDrun(300 + (p++ % 200));
}
BENCHMARK(BM_KDrun)->Name("KDrun, handler only")->Unit(benchmark::kMicrosecond);

void BM_KDsetup(benchmark::State& state) {
    for (auto _ : state) gWindow->KDsetup();
}
BENCHMARK(BM_KDsetup)->Name("KDsetup, handler only")->Unit(benchmark::kMicrosecond);
}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    long rows = 1000000;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rows") == 0 && i + 1 < argc) {
            rows = std::atol(argv[++i]);
            continue;
        }
        rest.push_back(argv[i]);
    }
    int restc = int(rest.size());
    Ms42kApplication app(argc, argv);
    Ui::ShowMessage = [](const QString& t) { std::fprintf(stderr, "message: %s\n", qPrintable(t)); };
    Ui::ShowError = [](const QString& t) { std::fprintf(stderr, "error: %s\n", qPrintable(t)); };

    QTemporaryDir dir;
    // The shipped empty table of the source tree (its data folder).
    const QString source = QStringLiteral(MS42K_SOURCE_DIR "/data/Ms35fdb.DB");
    if (!QFile::copy(source, dir.filePath(QStringLiteral("Ms35fdb.DB")))) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(source));
        return 1;
    }
    QDir::setCurrent(dir.path());
    AppOptions options;
    options.dataDir = dir.path().toStdString();
    TFCOMM window(options);
    window.show();
    QCoreApplication::processEvents();
    gWindow = &window;

    // The table filled as a long recording would leave it.
    RecordRow row;
    row.DcAc = "DC";
    row.Unit = " V";
    for (long i = 0; i < rows; ++i) {
        row.No = int32_t(i + 1);
        row.Time = 46000.0 + double(i) / 86400.0;
        row.Value = std::to_string(i % 4000);
        row.Nval = float(i % 4000);
        window.T22GDB->Append(row);
    }
    window.Data1->Refresh();
    window.State.RecordNo = int32_t(rows + 1);
    window.State.RecordLimit = 10000000;
    QCoreApplication::processEvents();
    std::fprintf(stderr, "record table: %zu rows\n", window.T22GDB->RowCount());

    benchmark::Initialize(&restc, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::fprintf(stderr, "record table after the run: %zu rows\n", window.T22GDB->RowCount());
    return 0;
}
