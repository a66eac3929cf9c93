// The cable's side of the link: report lines, burst and frame joining, the watchdog, the
// feature and request reports, device names and the choice of the cable in the device list.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/frames.h"
#include "link/cablelink.h"

namespace {
using Bytes = std::vector<uint8_t>;

// A report with meter data: count byte (0xF0 | n) followed by the bytes.
Bytes DataReport(const Bytes& meterBytes) {
    Bytes r(meterBytes.size() + 1);
    r[0] = uint8_t(0xF0 | meterBytes.size());
    std::copy(meterBytes.begin(), meterBytes.end(), r.begin() + 1);
    return r;
}
// A report without meter data, padded like the cable pads its reports.
Bytes IdleReport(uint8_t count = 0xF0) { return Bytes{count, 0, 0, 0, 0, 0, 0, 0}; }

using testframes::FrameBytes;

// The reports that carry `hex` as one burst (at most 7 bytes per report) and end it.
std::vector<Bytes> Burst(const std::string& hex) {
    const Bytes all = FrameBytes(hex);
    std::vector<Bytes> reports;
    for (size_t i = 0; i < all.size(); i += 7)
        reports.push_back(DataReport(Bytes(all.begin() + i, all.begin() + std::min(all.size(), i + 7))));
    reports.push_back(IdleReport());
    return reports;
}

struct Driver {
    cable::CableState st;
    int decodes = 0;  // complete frames handed on (each followed by one request)
    std::vector<std::string> logged;

    cable::ReportOutcome Feed(const Bytes& r, uint8_t id = 0) {
        auto out = cable::HandleInputReport(st.Vars(), id, r.data(), uint16_t(r.size()));
        if (out.meterData) logged.push_back(out.line);
        if (out.frameComplete) ++decodes;
        return out;
    }
    void FeedAll(const std::vector<Bytes>& rs) {
        for (const auto& r : rs) Feed(r);
    }
};

const std::string& kFrame = testframes::kTestFrame;

// ---------------------------------------------------------------- report line

struct LineCase {
    const char* name;
    uint8_t id;
    Bytes data;
    std::string line;
};

TEST(ReportLine, TextForm) {
    const std::vector<LineCase> cases = {
        {"three bytes", 0x00, {0xF2, 0x5A, 0x00}, "R 00  F2 5A 00 "},
        {"no data", 0x00, {}, "R 00  "},
        {"report id upper case", 0xAB, {0x0c}, "R AB  0C "},
        {"full report", 0x01, {0xF7, 1, 2, 3, 4, 5, 6, 0xFF}, "R 01  F7 01 02 03 04 05 06 FF "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cable::ReportLine(c.id, c.data.data(), uint16_t(c.data.size())), c.line) << c.name;
    }
}

// ---------------------------------------------------------------- counts and burst ends

struct CountCase {
    const char* name;
    Bytes report;          // fed after an open burst holding "5A01"
    bool meterData;        // counted as a report with meter data
    bool endsBurst;        // ends the open burst
    int32_t idleAfter;     // IdleReports after the report (it was 5 before)
    std::string burstAdd;  // what the report added to the burst (when it carried data)
};

TEST(HandleInputReport, CountCharacterDecidesDataOrBurstEnd) {
    const std::vector<CountCase> cases = {
        {"count 0", {0xF0, 0x11, 0x22}, false, true, 6, ""},
        {"count A", {0x0A, 0x11, 0x22}, false, true, 6, ""},
        {"count B", {0xFB, 0x11}, false, true, 6, ""},
        {"count C", {0x3C}, false, true, 6, ""},
        {"count D", {0xFD, 0, 0, 0, 0, 0, 0, 0}, false, true, 6, ""},
        {"count E", {0xFE}, false, true, 6, ""},
        {"count F", {0xFF, 1, 2, 3, 4, 5, 6, 7}, false, true, 6, ""},
        {"size 0: ends the burst but is not idle", {}, false, true, 5, ""},
        {"count 1", {0xF1, 0xAB, 0xCD}, true, false, 0, "AB"},
        {"count 2 high nibble ignored", {0x02, 0x30, 0x31, 0x32}, true, false, 0, "3031"},
        {"count 7 full report", {0xF7, 1, 2, 3, 4, 5, 6, 7}, true, false, 0, "01020304050607"},
        {"count 9 with only 3 bytes", {0xF9, 0x41, 0x42, 0x43}, true, false, 0, "414243"},
        {"count 5 with none", {0xF5}, true, false, 0, ""},
    };
    for (const auto& c : cases) {
        Driver d;
        d.Feed(DataReport({0x5A, 0x01}));
        d.st.IdleReports = 5;
        d.st.IdleSinceRequest = 5;
        const auto out = d.Feed(c.report);
        EXPECT_EQ(out.meterData, c.meterData) << c.name;
        // The report line is made for the log, which takes only reports with meter data.
        EXPECT_EQ(out.line, c.meterData ? cable::ReportLine(0, c.report.data(), uint16_t(c.report.size())) : "")
            << c.name;
        EXPECT_EQ(out.burstEnded, c.endsBurst) << c.name;
        EXPECT_EQ(d.st.IdleReports, c.idleAfter) << c.name;
        EXPECT_EQ(d.st.IdleSinceRequest, c.idleAfter) << c.name;
        if (c.endsBurst) {
            EXPECT_EQ(d.st.FrameHex, "5A01") << c.name;
            EXPECT_TRUE(d.st.BurstText.empty()) << c.name;
            EXPECT_FALSE(d.st.BurstPending) << c.name;
        } else {
            EXPECT_EQ(d.st.BurstText, "5A01" + c.burstAdd) << c.name;
            EXPECT_TRUE(d.st.BurstPending) << c.name;
        }
    }
}

TEST(HandleInputReport, ReportsWithoutDataOutsideABurstChangeNothing) {
    Driver d;
    d.st.FrameHex = "5A00";
    d.st.FrameLen = 4;
    for (int i = 0; i < 3; ++i) {
        const auto out = d.Feed(IdleReport());
        EXPECT_FALSE(out.burstEnded);
    }
    EXPECT_EQ(d.st.FrameHex, "5A00");
    EXPECT_EQ(d.st.FrameLen, 4);
    EXPECT_EQ(d.st.IdleReports, 3);
    EXPECT_TRUE(d.logged.empty()) << "reports without meter data are not logged";
}

TEST(HandleInputReport, OnlyReportsWithMeterDataAreLogged) {
    Driver d;
    d.Feed(DataReport({0x5A, 0x00}), 0x00);
    d.Feed(IdleReport(), 0x00);
    d.Feed(DataReport({0x12}), 0x03);
    ASSERT_EQ(d.logged.size(), 2u);
    EXPECT_EQ(d.logged[0], "R 00  F2 5A 00 ");
    EXPECT_EQ(d.logged[1], "R 03  F1 12 ");
}

// ---------------------------------------------------------------- frame joining

struct JoinCase {
    const char* name;
    std::vector<std::string> bursts;  // hex text of each burst, in order
    std::string frameHex;             // FrameHex afterwards
    int decodes;                      // complete frames handed on
};

TEST(HandleInputReport, BurstsJoinIntoFrames) {
    const std::string first40 = kFrame.substr(0, 40), rest42 = kFrame.substr(40);
    const std::string wave(720, '1');  // 360 bytes after the start byte
    const std::vector<JoinCase> cases = {
        {"40 + 42 characters make one frame", {first40, rest42}, kFrame, 1},
        {"one burst holding the whole frame", {kFrame}, kFrame, 1},
        {"two frames in a row", {kFrame, first40, rest42}, kFrame, 2},
        {"a burst appended after a complete frame", {first40, rest42, "0102"}, kFrame + "0102", 1},
        {"further bursts keep growing it", {kFrame, "0102", "0304"}, kFrame + "01020304", 1},
        {"a new 5A burst replaces a grown frame", {kFrame, "0102", first40, rest42}, kFrame, 2},
        {"5A opening a burst mid-frame starts a new frame", {first40, "5A11", "2233"}, "5A112233", 0},
        {"a burst before any 5A is appended to nothing", {"1234"}, "1234", 0},
        {"one byte too many is not complete", {first40, rest42 + "00"}, kFrame + "00", 0},
        {"a 361-byte frame", {"5A" + wave.substr(0, 300), wave.substr(300)}, "5A" + wave, 1},
        {"one byte short of 361 is not complete",
         {"5A" + wave.substr(0, 300), wave.substr(300, 418)},
         "5A" + wave.substr(0, 718),
         0},
    };
    for (const auto& c : cases) {
        Driver d;
        for (const auto& b : c.bursts) d.FeedAll(Burst(b));
        EXPECT_EQ(d.st.FrameHex, c.frameHex) << c.name;
        EXPECT_EQ(d.decodes, c.decodes) << c.name;
    }
}

struct CompleteCase {
    const char* name;
    std::string text;
    bool complete;
};

TEST(IsCompleteFrame, LengthAndStart) {
    const std::string wave = "5A" + std::string(720, '0');
    const std::vector<CompleteCase> cases = {
        {"82 beginning 5A", kFrame, true},
        {"722 beginning 5A", wave, true},
        {"83", kFrame + "0", false},
        {"81", kFrame.substr(0, 81), false},
        {"721", wave.substr(0, 721), false},
        {"723", wave + "0", false},
        {"82 beginning 5B", "5B" + kFrame.substr(2), false},
        {"82 beginning 5a", "5a" + kFrame.substr(2), false},
        {"empty", "", false},
    };
    for (const auto& c : cases) EXPECT_EQ(cable::IsCompleteFrame(c.text), c.complete) << c.name;
}

TEST(HandleInputReport, FrameLengthFollowsTheJoinedText) {
    Driver d;
    d.FeedAll(Burst(kFrame.substr(0, 40)));
    EXPECT_EQ(d.st.FrameLen, 40);
    d.FeedAll(Burst(kFrame.substr(40)));
    EXPECT_EQ(d.st.FrameLen, 82);
    d.FeedAll(Burst("0102"));
    EXPECT_EQ(d.st.FrameLen, 86);
    d.FeedAll(Burst("5A00"));
    EXPECT_EQ(d.st.FrameLen, 4);
}

TEST(HandleInputReport, OutcomeNamesTheBurstAndWhetherItStartedAFrame) {
    Driver d;
    cable::ReportOutcome last;
    for (const auto& r : Burst("5A0102")) last = d.Feed(r);
    EXPECT_TRUE(last.burstEnded);
    EXPECT_TRUE(last.newFrame);
    EXPECT_EQ(last.burst, "5A0102");
    for (const auto& r : Burst("0304")) last = d.Feed(r);
    EXPECT_FALSE(last.newFrame);
    EXPECT_EQ(last.burst, "0304");
}

TEST(HandleInputReport, ASpoiltFrameStopsGrowingButLengthCounts) {
    // A stream of bursts that never begin with 5A: the text stops growing once it is longer
    // than any frame, the gathered count keeps counting, and the next 5A burst starts afresh.
    Driver d;
    d.FeedAll(Burst("5A00"));
    for (int i = 0; i < 2000; ++i) d.FeedAll(Burst("0102030405060708"));
    EXPECT_GT(d.st.FrameHex.size(), kWaveFrameChars);
    EXPECT_LE(d.st.FrameHex.size(), kWaveFrameChars + 16);
    EXPECT_EQ(d.st.FrameLen, 4 + 2000 * 16);
    EXPECT_EQ(d.decodes, 0);
    d.FeedAll(Burst(kFrame));
    EXPECT_EQ(d.st.FrameHex, kFrame);
    EXPECT_EQ(d.decodes, 1);
}

TEST(HandleInputReport, ABurstThatNeverEndsStopsGrowing) {
    // Every report carries meter data and no burst end comes: the burst text keeps a bound,
    // stays too long to pass for a frame when it finally ends, and the next frame decodes.
    for (const std::string first : {"5A00", "0100"}) {
        Driver d;
        d.Feed(DataReport(FrameBytes(first)));
        for (int i = 0; i < 200000; ++i) d.Feed(DataReport(FrameBytes("01020304050607")));
        EXPECT_GT(d.st.BurstText.size(), kWaveFrameChars) << first;
        EXPECT_LE(d.st.BurstText.size(), kWaveFrameChars + 18) << first;
        d.Feed(IdleReport());
        EXPECT_EQ(d.decodes, 0) << first;
        EXPECT_FALSE(cable::IsCompleteFrame(d.st.FrameHex)) << first;
        EXPECT_TRUE(d.st.BurstText.empty()) << first;
        d.FeedAll(Burst(kFrame));
        EXPECT_EQ(d.st.FrameHex, kFrame) << first;
        EXPECT_EQ(d.decodes, 1) << first;
    }
}

TEST(HandleInputReport, EmptyBurstDecodesACompleteFrameAgain) {
    Driver d;
    d.FeedAll(Burst(kFrame));
    ASSERT_EQ(d.decodes, 1);
    // A count that promises bytes the report does not carry, then a burst end.
    d.Feed(Bytes{0xF3});
    const auto out = d.Feed(IdleReport());
    EXPECT_TRUE(out.burstEnded);
    EXPECT_TRUE(out.frameComplete);
    EXPECT_EQ(d.decodes, 2);
    EXPECT_EQ(d.st.FrameHex, kFrame);
}

TEST(HandleInputReport, EmptyBurstLeavesAnIncompleteFrameAlone) {
    Driver d;
    d.FeedAll(Burst(kFrame.substr(0, 40)));
    d.Feed(Bytes{0xF3});
    const auto out = d.Feed(IdleReport());
    EXPECT_TRUE(out.burstEnded);
    EXPECT_FALSE(out.frameComplete);
    EXPECT_EQ(d.st.FrameHex, kFrame.substr(0, 40));
}

// ---------------------------------------------------------------- watchdog

struct WatchCase {
    const char* name;
    int32_t idle;  // idle reports counted before the ticks start
    int ticks;     // watchdog ticks
    int checks;    // ticks that looked at the counters
    int resends;   // requests sent again
    int giveUps;   // times the link was dropped
};

TEST(Watchdog, ChecksEveryThirdTickAndActsOnTheIdleCounts) {
    const std::vector<WatchCase> cases = {
        {"two ticks never check", 5000, 2, 0, 0, 0},
        {"the third tick checks", 0, 3, 1, 0, 0},
        {"every third tick after that", 0, 9, 3, 0, 0},
        {"599 idle reports: no request", 599, 3, 1, 0, 0},
        {"600 idle reports: request once", 600, 6, 2, 1, 0},
        {"2999 idle reports: request, no give-up", 2999, 3, 1, 1, 0},
        {"3000 idle reports: request and give up", 3000, 3, 1, 1, 1},
        {"give-up happens once", 3000, 9, 3, 1, 1},
    };
    for (const auto& c : cases) {
        int32_t ticksNoFrame = 0, sinceRequest = c.idle, idle = c.idle;
        int checks = 0, resends = 0, giveUps = 0;
        for (int t = 0; t < c.ticks; ++t) {
            const auto out = cable::WatchdogTick(ticksNoFrame, sinceRequest, idle);
            checks += out.checked;
            resends += out.resendRequest;
            giveUps += out.giveUp;
        }
        EXPECT_EQ(checks, c.checks) << c.name;
        EXPECT_EQ(resends, c.resends) << c.name;
        EXPECT_EQ(giveUps, c.giveUps) << c.name;
    }
}

TEST(Watchdog, DecodedFramesKeepItFromChecking) {
    // The decoder sets NoFrameTicks to 0 at each frame: frames every two ticks keep it quiet.
    int32_t ticksNoFrame = 0, sinceRequest = 5000, idle = 5000;
    for (int t = 0; t < 100; ++t) {
        if (t % 2 == 0) ticksNoFrame = 0;
        EXPECT_FALSE(cable::WatchdogTick(ticksNoFrame, sinceRequest, idle).checked) << "tick " << t;
    }
}

TEST(Watchdog, IdleReportsBetweenChecksResendAtTheNextCheck) {
    // Reports arrive between ticks; the request follows the 600th idle report at the next
    // check, not at once.
    Driver d;
    int32_t ticksNoFrame = 0;
    int resendTick = -1, giveUpTick = -1;
    for (int tick = 1; tick <= 40; ++tick) {
        for (int i = 0; i < 100; ++i) d.Feed(IdleReport());  // 100 idle reports per tick
        const auto out = cable::WatchdogTick(ticksNoFrame, d.st.IdleSinceRequest, d.st.IdleReports);
        if (out.resendRequest && resendTick < 0) resendTick = tick;
        if (out.giveUp && giveUpTick < 0) giveUpTick = tick;
    }
    EXPECT_EQ(resendTick, 6);   // 600 idle reports after tick 6, which is a checking tick
    EXPECT_EQ(giveUpTick, 30);  // 3000 after tick 30, a checking tick
}

// ---------------------------------------------------------------- feature report and request

struct FeatureCase {
    const char* name;
    bool b9600, b4800, b2400;
    std::string line;
    int baud;
};

TEST(FeatureReport, BytesAndLogLine) {
    const std::vector<FeatureCase> cases = {
        {"9600", true, false, false, "80 25 00 00 03 00 00 00 00 00 ", 9600},
        {"4800", false, true, false, "C0 12 00 00 03 00 00 00 00 00 ", 4800},
        {"2400", false, false, true, "60 09 00 00 03 00 00 00 00 00 ", 2400},
        {"none ticked", false, false, false, "00 00 00 00 03 00 00 00 00 00 ", 0},
        {"later boxes overwrite earlier ones", true, true, false, "C0 12 00 00 03 00 00 00 00 00 ", 4800},
        {"all ticked: 2400", true, true, true, "60 09 00 00 03 00 00 00 00 00 ", 2400},
    };
    for (const auto& c : cases) {
        const auto buf = cable::FeatureBuffer(c.b9600, c.b4800, c.b2400);
        EXPECT_EQ(buf[0], 0) << c.name;
        EXPECT_EQ(cable::FeatureLogLine(buf), c.line) << c.name;
        EXPECT_EQ(cable::BaudOfFeatureReport(buf.data(), cable::kFeatureReportLength), c.baud) << c.name;
    }
    EXPECT_EQ(cable::FeatureLogLine(cable::FeatureBufferForBaud(9600)), "80 25 00 00 03 00 00 00 00 00 ");
}

struct RequestCase {
    const char* name;
    size_t outputLength;
    size_t written;
    std::string line;
};

TEST(Request, BufferAndLogLine) {
    const std::vector<RequestCase> cases = {
        {"nine-byte output report", 9, 9, "02 5A 00 00 00 00 00 00 00 "},
        {"write not attempted", 9, cable::kUnattemptedWriteCount, "02 5A 00 00 00 00 00 00 00 00 "},
        {"failed write reports 0 bytes", 9, 0, ""},
        {"short report", 4, 4, "02 5A 00 00 "},
        {"report ID and 64 bytes", 65, 65,
         "02 5A 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
         "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
         "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "},
    };
    for (const auto& c : cases) {
        const auto buf = cable::RequestBuffer(c.outputLength);
        ASSERT_GE(buf.size(), cable::kRequestBufferSize) << c.name;
        ASSERT_GT(buf.size(), c.outputLength) << c.name;
        EXPECT_EQ(buf[0], 0x00) << c.name;
        EXPECT_EQ(buf[1], 0x02) << c.name;
        EXPECT_EQ(buf[2], 0x5A) << c.name;
        EXPECT_EQ(buf[3], 0x00) << c.name;
        EXPECT_TRUE(cable::IsFrameRequest(buf.data(), c.outputLength)) << c.name;
        EXPECT_EQ(cable::RequestLogLine(buf, c.written), c.line) << c.name;
    }
}

TEST(Request, LongOutputReportsFitTheBuffer) {
    // A cable with an output report longer than 64 bytes: the buffer grows, and the log
    // line covers what was written without reading past the buffer.
    for (size_t len : {65u, 66u, 100u, 300u}) {
        const auto buf = cable::RequestBuffer(len);
        EXPECT_GE(buf.size(), len + 1) << len;
        const std::string line = cable::RequestLogLine(buf, len);
        EXPECT_EQ(line.size(), len * 3) << len;
        EXPECT_EQ(line.substr(0, 9), "02 5A 00 ") << len;
    }
    const auto buf = cable::RequestBuffer(9);
    EXPECT_EQ(cable::RequestLogLine(buf, 1000).size(), (buf.size() - 1) * 3);
}

TEST(Request, OnlyA025ARequestCounts) {
    const Bytes notRequest{0x00, 0x02, 0x5B, 0x00};
    const Bytes tooShort{0x00, 0x02};
    EXPECT_FALSE(cable::IsFrameRequest(notRequest.data(), notRequest.size()));
    EXPECT_FALSE(cable::IsFrameRequest(tooShort.data(), tooShort.size()));
}

// ---------------------------------------------------------------- device names and selection

struct NameCase {
    const char* name;
    QString product, serial;
    uint16_t vid, pid;
    QString display;
};

TEST(DeviceDisplayName, ProductSerialOrIds) {
    const std::vector<NameCase> cases = {
        {"product only", "USB to Serial", "", 0x1234, 0x5678, "USB to Serial"},
        {"product and serial", "USB to Serial", "A01", 0x1234, 0x5678, "USB to Serial (Serial=A01)"},
        {"no product", "", "", 0x04b4, 0x0a, "Device VID=04B4 PID=000A"},
        {"no product, serial", "", "9", 0xffff, 0, "Device VID=FFFF PID=0000 (Serial=9)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cable::DeviceDisplayName(c.product, c.serial, c.vid, c.pid), c.display) << c.name;
    }
}

struct SelectCase {
    const char* name;
    QStringList entries;
    int selected;
};

TEST(SelectCableEntry, LastExactCableEntry) {
    const std::vector<SelectCase> cases = {
        {"empty list", {}, -1},
        {"no cable", {"USB Optical Mouse", "Keyboard"}, -1},
        {"one cable", {"Keyboard", "USB to Serial", "Mouse"}, 1},
        {"two cables: the later one", {"USB to Serial", "Mouse", "USB to Serial"}, 2},
        {"a serial number spoils the name", {"USB to Serial (Serial=1)"}, -1},
        {"case matters", {"usb to serial"}, -1},
        {"blanks matter", {"USB to Serial "}, -1},
        {"cable with serial after a plain one", {"USB to Serial", "USB to Serial (Serial=2)"}, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(cable::SelectCableEntry(c.entries), c.selected) << c.name;
}

TEST(LogLines, DeviceEvents) {
    EXPECT_EQ(cable::ArrivalLine("USB to Serial"), "Arrival of USB to Serial");
    EXPECT_EQ(cable::RemovalLine("Device VID=0001 PID=0002"), "Removal of Device VID=0001 PID=0002");
    EXPECT_EQ(cable::ReadErrorLine("No such device", 19), "READ ERROR: No such device (13)");
    EXPECT_EQ(cable::ReadErrorLine("x", 0x3e3), "READ ERROR: x (3E3)");
    EXPECT_FALSE(cable::SystemErrorText(19).isEmpty());
}

}  // namespace
