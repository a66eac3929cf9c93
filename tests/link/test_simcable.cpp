// The simulated cable report by report, read back through the program's own burst and
// frame joining.
#include <gtest/gtest.h>

#include "link/cablelink.h"
#include "link/simcable.h"

namespace {

struct Reader {
    cable::CableState st;
    std::vector<std::string> decoded;  // complete frames, in order

    void Feed(const std::vector<uint8_t>& report) {
        const auto out = cable::HandleInputReport(st.Vars(), report[0], report.data() + 1, uint16_t(report.size() - 1));
        if (out.frameComplete) decoded.push_back(st.FrameHex);
    }
};

void Request(SimCable& c) {
    const auto buf = cable::RequestBuffer(SimCable::kOutputReportLength);
    c.Write(buf.data(), SimCable::kOutputReportLength);
}

void SetBaud(SimCable& c, int baud) {
    const auto f = cable::FeatureBufferForBaud(baud);
    ASSERT_TRUE(c.SetFeature(f.data(), cable::kFeatureReportLength));
}

std::string Hex(const Frame& f) { return cable::HexText(f.data(), f.size()); }

TEST(SimCableReports, EveryCycleFrameArrivesWholeThroughTheJoining) {
    SimMeter meter(4);
    SimCable cable(meter, 4, 3);
    SetBaud(cable, 9600);
    Reader r;
    const uint64_t frames = uint64_t(meter.FramesPerScene()) * SimMeter::Scenes().size() * 2;
    for (uint64_t k = 0; k < frames; ++k) {
        Request(cable);
        const size_t before = r.decoded.size();
        for (int guard = 0; guard < 1000 && r.decoded.size() == before; ++guard) r.Feed(cable.NextInputReport());
        ASSERT_EQ(r.decoded.size(), before + 1) << "frame " << k << " was not joined";
        EXPECT_EQ(r.decoded.back(), Hex(meter.CycleFrame(k))) << k;
        EXPECT_FALSE(cable.Busy()) << "bytes left after the frame " << k;
    }
}

TEST(SimCableReports, CountNibbleAndChunkSizes) {
    SimMeter meter(1);
    SimCable cable(meter, 1, 0);
    SetBaud(cable, 9600);
    bool sawBurstEnd = false;
    for (int k = 0; k < 40; ++k) {
        Request(cable);
        size_t bytes = 0;
        while (cable.Busy()) {
            const auto rep = cable.NextInputReport();
            ASSERT_EQ(rep.size(), SimCable::kInputReportLength);
            EXPECT_EQ(rep[0], 0) << "report ID";
            const int n = rep[1] & 0x0F;
            EXPECT_LE(n, SimCable::kMaxBytesPerReport);
            bytes += size_t(n);
            sawBurstEnd |= n == 0;
        }
        EXPECT_EQ(bytes, meter.CycleFrame(uint64_t(k)).size()) << k;
    }
    EXPECT_TRUE(sawBurstEnd);
}

TEST(SimCableReports, AFrameComesInSeveralBursts) {
    SimMeter meter(1);
    for (uint64_t k : {0ull, 16ull}) {  // a reading frame and a waveform frame
        const Frame f = meter.CycleFrame(k);
        const auto bursts = SimCable::Chunking(f, 99);
        EXPECT_GE(bursts.size(), f.size() / 24) << k;
        size_t total = 0;
        for (const auto& b : bursts)
            for (int n : b) total += size_t(n);
        EXPECT_EQ(total, f.size()) << k;
    }
}

struct ChunkCase {
    const char* name;
    Frame frame;
};

TEST(SimCableReports, NoBurstButTheFirstBeginsWith5A) {
    std::vector<ChunkCase> cases = {
        {"all 5A", Frame(41, 0x5A)},
        {"5A every third byte", {}},
        {"waveform of 5A runs", {}},
    };
    for (int i = 0; i < 41; ++i) cases[1].frame.push_back(i % 3 == 0 ? 0x5A : 0x30);
    cases[2].frame.assign(361, 0x10);
    cases.push_back({"waveform without 5A", Frame(361, 0x01)});
    for (size_t i = 0; i < 361; i += 7) cases[2].frame[i] = 0x5A;
    for (const auto& c : cases) {
        for (uint64_t salt = 0; salt < 50; ++salt) {
            size_t pos = 0;
            bool first = true;
            for (const auto& b : SimCable::Chunking(c.frame, salt)) {
                if (!first) {
                    EXPECT_NE(c.frame[pos], 0x5A) << c.name << " salt " << salt << " at " << pos;
                    EXPECT_NE(pos, 41u) << c.name << " salt " << salt;
                }
                first = false;
                for (int n : b) pos += size_t(n);
            }
            EXPECT_EQ(pos, c.frame.size()) << c.name;
        }
    }
}

TEST(SimCableReports, TheMeterTakesItsTimeToAnswer) {
    SimMeter meter(1);
    SimCable cable(meter, 1, 5);
    SetBaud(cable, 9600);
    Request(cable);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(cable.NextInputReport()[1] & 0x0F, 0) << i;
    EXPECT_NE(cable.NextInputReport()[1] & 0x0F, 0);
}

struct QuietCase {
    const char* name;
    int baud;  // 0: no feature report
    bool silent;
};

TEST(SimCableReports, NoMeterDataWithoutRateOrWhileSilent) {
    const std::vector<QuietCase> cases = {
        {"no feature report", 0, false},
        {"wrong rate", 2400, false},
        {"silent meter", 9600, true},
    };
    for (const auto& c : cases) {
        SimMeter meter(1);
        meter.SetSilent(c.silent);
        SimCable cable(meter, 1, 0);
        if (c.baud) SetBaud(cable, c.baud);
        Request(cable);
        Reader r;
        for (int i = 0; i < 700; ++i) r.Feed(cable.NextInputReport());
        EXPECT_TRUE(r.decoded.empty()) << c.name;
        EXPECT_EQ(r.st.IdleReports, 700) << c.name;
        EXPECT_EQ(cable.IdleSinceRequest(), 700u) << c.name;
        EXPECT_EQ(cable.Requests(), 1u) << c.name;
        EXPECT_EQ(cable.Baud(), c.baud) << c.name;
    }
}

TEST(SimCableReports, PowerOffForgetsTheRateAndTheBytesInFlight) {
    SimMeter meter(1);
    SimCable cable(meter, 1, 0);
    SetBaud(cable, 9600);
    Request(cable);
    ASSERT_TRUE(cable.Busy());
    cable.PowerOff();
    EXPECT_FALSE(cable.Busy());
    EXPECT_EQ(cable.Baud(), 0);
    Request(cable);
    EXPECT_FALSE(cable.Busy());
}

TEST(SimCableReports, OtherOutputReportsAreNotRequests) {
    SimMeter meter(1);
    SimCable cable(meter, 1, 0);
    SetBaud(cable, 9600);
    const uint8_t other[SimCable::kOutputReportLength] = {0, 0x02, 0x5B, 0};
    EXPECT_EQ(cable.Write(other, sizeof other), SimCable::kOutputReportLength);
    EXPECT_FALSE(cable.Busy());
    EXPECT_EQ(cable.Requests(), 0u);
}

}  // namespace

// ---------------------------------------------------------------- as a HID platform layer

#include <cerrno>
#include <chrono>
#include <thread>

#include "link/simcable_backend.h"

namespace {

struct OpenCase {
    const char* name;
    std::string path;
    HidAccess access;
    bool opens;
    uint32_t error;
};

TEST(SimCableBackend, InterfacesAndTheirOpenings) {
    SimCableBackend sim;
    sim.PlugMouse();
    const auto list = sim.Enumerate();
    ASSERT_EQ(list.size(), 2u);
    const std::vector<OpenCase> cases = {
        {"cable read-write", SimCableBackend::kCablePath, HidAccess::ReadWrite, true, 0},
        {"cable read", SimCableBackend::kCablePath, HidAccess::Read, true, 0},
        {"mouse queries only", SimCableBackend::kMousePath, HidAccess::None, true, 0},
        {"mouse read-write refused", SimCableBackend::kMousePath, HidAccess::ReadWrite, false, EACCES},
        {"mouse read refused", SimCableBackend::kMousePath, HidAccess::Read, false, EACCES},
        {"unknown path", "sim:none", HidAccess::None, false, ENOENT},
    };
    for (const auto& c : cases) {
        uint32_t error = 0;
        const auto h = sim.Open(c.path, c.access, error);
        EXPECT_EQ(h != nullptr, c.opens) << c.name;
        if (!c.opens) {
            EXPECT_EQ(error, c.error) << c.name;
        }
    }
}

TEST(SimCableBackend, TheCableIdentifiesItselfAsTheCable) {
    SimCableBackend sim;
    uint32_t error = 0;
    const auto h = sim.Open(SimCableBackend::kCablePath, HidAccess::ReadWrite, error);
    ASSERT_NE(h, nullptr);
    char16_t text[kHidStringUnits];
    std::fill(std::begin(text), std::end(text), u'x');
    ASSERT_TRUE(h->GetProductString(text, kHidStringUnits));
    EXPECT_EQ(std::u16string(text), u"USB to Serial");
    EXPECT_FALSE(h->GetSerialNumberString(text, kHidStringUnits)) << "no serial number";
    HIDP_CAPS caps;
    ASSERT_TRUE(h->GetCaps(caps));
    EXPECT_EQ(caps.InputReportByteLength, SimCable::kInputReportLength);
    EXPECT_EQ(caps.OutputReportByteLength, SimCable::kOutputReportLength);
    EXPECT_EQ(caps.FeatureReportByteLength, SimCable::kFeatureReportLength);
}

TEST(SimCableBackend, FeatureRequestAndReportsThroughHandles) {
    SimCableOptions o;
    o.reportIntervalUs = 0;
    o.answerDelayReports = 1;
    SimCableBackend sim(o);
    uint32_t error = 0;
    const auto main = sim.Open(SimCableBackend::kCablePath, HidAccess::ReadWrite, error);
    const auto query = sim.Open(SimCableBackend::kCablePath, HidAccess::None, error);
    const auto feature = cable::FeatureBufferForBaud(9600);
    EXPECT_FALSE(query->SetFeature(feature.data(), cable::kFeatureReportLength)) << "needs read-write access";
    ASSERT_TRUE(main->SetFeature(feature.data(), cable::kFeatureReportLength));
    const auto request = cable::RequestBuffer(SimCable::kOutputReportLength);
    uint32_t written = 0;
    ASSERT_TRUE(main->Write(request.data(), SimCable::kOutputReportLength, written));
    EXPECT_EQ(written, SimCable::kOutputReportLength);

    const auto reader = sim.Open(SimCableBackend::kCablePath, HidAccess::Read, error);
    Reader r;
    for (int i = 0; i < 200 && r.decoded.empty(); ++i) {
        std::vector<uint8_t> buf(SimCable::kInputReportLength);
        const HidReadResult res = reader->Read(buf.data(), buf.size(), 100);
        ASSERT_EQ(res.status, HidReadStatus::Report);
        buf.resize(res.bytes);
        r.Feed(buf);
    }
    ASSERT_EQ(r.decoded.size(), 1u);
    EXPECT_EQ(r.decoded[0], Hex(sim.CycleFrame(0)));
    const SimCableStats st = sim.Stats();
    EXPECT_EQ(st.baud, 9600);
    EXPECT_EQ(st.requests, 1u);
    EXPECT_EQ(st.framesAnswered, 1u);
}

TEST(SimCableBackend, BudgetHoldsTheReportsBack) {
    SimCableOptions o;
    o.reportIntervalUs = 0;
    SimCableBackend sim(o);
    uint32_t error = 0;
    const auto reader = sim.Open(SimCableBackend::kCablePath, HidAccess::Read, error);
    sim.SetReportBudget(3);
    uint8_t buf[SimCable::kInputReportLength];
    for (int i = 0; i < 3; ++i) EXPECT_EQ(reader->Read(buf, sizeof buf, 50).status, HidReadStatus::Report) << i;
    EXPECT_EQ(reader->Read(buf, sizeof buf, 20).status, HidReadStatus::Timeout);
    sim.AddReportBudget(1);
    EXPECT_EQ(reader->Read(buf, sizeof buf, 50).status, HidReadStatus::Report);
    sim.SetReportBudget(std::nullopt);
    EXPECT_EQ(reader->Read(buf, sizeof buf, 50).status, HidReadStatus::Report);
}

TEST(SimCableBackend, UnpluggedCableFailsItsHandlesAndComesBackAsANewInterface) {
    SimCableOptions o;
    o.reportIntervalUs = 0;
    SimCableBackend sim(o);
    const std::string before = sim.Enumerate().at(0).instance;
    uint32_t error = 0;
    const auto reader = sim.Open(SimCableBackend::kCablePath, HidAccess::Read, error);
    const auto main = sim.Open(SimCableBackend::kCablePath, HidAccess::ReadWrite, error);
    sim.UnplugCable();
    EXPECT_TRUE(sim.Enumerate().empty());
    uint8_t buf[SimCable::kInputReportLength];
    const HidReadResult r = reader->Read(buf, sizeof buf, 50);
    EXPECT_EQ(r.status, HidReadStatus::Failed);
    EXPECT_EQ(r.error, uint32_t(ENODEV));
    HIDD_ATTRIBUTES a;
    EXPECT_FALSE(main->GetAttributes(a));
    EXPECT_EQ(sim.Open(SimCableBackend::kCablePath, HidAccess::ReadWrite, error), nullptr);
    EXPECT_EQ(error, uint32_t(ENODEV));

    sim.PlugCable();
    ASSERT_EQ(sim.Enumerate().size(), 1u);
    EXPECT_NE(sim.Enumerate()[0].instance, before);
    EXPECT_EQ(reader->Read(buf, sizeof buf, 50).status, HidReadStatus::Failed) << "old handles stay dead";
    EXPECT_EQ(sim.Stats().baud, 0) << "the cable forgot its rate";
}

TEST(SimCableBackend, ClosingEndsAWaitingRead) {
    SimCableBackend sim;
    uint32_t error = 0;
    const auto reader = sim.Open(SimCableBackend::kCablePath, HidAccess::Read, error);
    sim.SetReportBudget(0);  // nothing to read: the read waits
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        reader->Close();
    });
    uint8_t buf[SimCable::kInputReportLength];
    EXPECT_EQ(reader->Read(buf, sizeof buf, 10000).status, HidReadStatus::Aborted);
    closer.join();
    EXPECT_EQ(reader->Read(buf, sizeof buf, 10).status, HidReadStatus::Aborted);
}

}  // namespace
