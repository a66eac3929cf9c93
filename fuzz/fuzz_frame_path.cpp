// libFuzzer target over the frame path as the cable delivers it: input reports joined into
// bursts and frames, every complete frame decoded, every decoded reading offered to the
// recorder. The input is a list of reports, each a length byte (0..64) and that many bytes;
// a first byte chooses the recording options.
//
// Faults it looks for, besides what ASan/UBSan see: a burst or frame text that grows without
// bound, a frame reported complete that is not, an exception out of the decoder, a reading
// that adds more than one row.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/cablelink.h"
#include "meter/decoder.h"
#include "meter/meterframe.h"
#include "records/datafiles.h"
#include "records/paradox.h"
#include "records/recorder.h"
#include "records/recordtable.h"

namespace {
void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "frame path: %s\n", what);
    std::abort();
}

// One empty record table for the whole run, opened once; every input starts from no rows.
RecordTable& Table() {
    static RecordTable* table = [] {
        char dir[] = "/tmp/fuzz_frame_path.XXXXXX";
        Check(mkdtemp(dir) != nullptr, "no temporary folder");
        const std::string path = std::string(dir) + "/Ms35fdb.DB";
        static const uint8_t kNoRow[64] = {};
        PxWriteOptions opt;
        opt.tableName = "Ms35fdb.DB";
        const std::vector<uint8_t> bytes = WriteParadox(
            RecordTable::DefaultSchema(), 0, [](size_t) -> const uint8_t* { return kNoRow; }, opt);
        WriteFileAtomically(path, bytes.data(), bytes.size());
        auto* t = new RecordTable;
        t->Open(path);
        return t;
    }();
    return *table;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    RecordTable& table = Table();
    table.Empty();
    Recorder recorder(table);
    const uint8_t opts = data[0];
    recorder.Options.RecordLimit = 1 + (opts & 0x0F);
    recorder.Options.RepeatSuppression = (opts & 0x10) != 0;
    recorder.Options.SamplingOn = (opts & 0x20) != 0;
    recorder.Options.SamplingText = (opts & 0x40) ? "0" : "1";
    recorder.Options.RecallOn = (opts & 0x80) != 0;

    cable::CableState st;
    const ScaleConstants scale;
    size_t pos = 1;
    double now = 45000.0;
    while (pos < size) {
        const size_t want = data[pos++] % 65;
        const size_t n = want < size - pos ? want : size - pos;
        const cable::ReportOutcome out = cable::HandleInputReport(st.Vars(), 0, data + pos, uint16_t(n));
        pos += n;
        Check(out.meterData == !out.line.empty(), "a report line without meter data, or none with");
        Check(st.BurstText.size() <= kWaveFrameChars + 18, "the burst text grows without bound");
        Check(st.FrameHex.size() <= 2 * kWaveFrameChars + 18, "the frame text grows without bound");
        if (!out.frameComplete) continue;
        Check(IsCompleteFrame(st.FrameHex), "a frame reported complete that is not");
        const DecodeResult r = DecodeFrame(st.FrameHex, scale);
        if (!r.Reached(17)) continue;
        const Reading reading{r.ValueText, r.AcDcText, r.SymbolText, r.AutoText, r.ValueNum};
        const size_t rows = table.RowCount();
        const GateResult g = recorder.Offer(reading, now);
        Check(table.RowCount() == rows + (g == GateResult::Appended ? 1 : 0), "a reading added other than one row");
        if (g == GateResult::Appended) {
            for (int c = 0; c < kRecordColumns; ++c) (void)table.CellText(rows, c);
        }
        recorder.Tick();
        now += 1.0 / 86400.0;
    }
    return 0;
}
