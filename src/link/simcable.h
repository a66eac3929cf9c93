#pragma once
// The simulated USB interface cable, report by report: the meter's serial bytes come out as
// input reports whose first data byte counts the meter bytes it carries (a few per report),
// with reports without meter data between the chunks of a frame and whenever the meter has
// nothing to say. The host sets the serial side's baud rate with a feature report and asks
// the meter for a frame with an output report. No threads and no timing here: the backend
// (simcable_backend.h) paces the reports.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "link/simmeter.h"

class SimCable {
public:
    // Report lengths, report ID byte included.
    static constexpr size_t kInputReportLength = 9;
    static constexpr size_t kOutputReportLength = 9;
    static constexpr size_t kFeatureReportLength = 10;
    // At most this many meter bytes fit in one input report (after the count byte).
    static constexpr int kMaxBytesPerReport = int(kInputReportLength) - 2;
    // The rate the meter talks at; at any other rate nothing readable comes through.
    static constexpr int kMeterBaud = 9600;
    // Count byte of a report without meter data (low four bits 0).
    static constexpr uint8_t kIdleCountByte = 0xF0;

    // answerDelayReports: reports without data between a request and the first meter byte.
    SimCable(SimMeter& meter, uint32_t seed = 1, int answerDelayReports = 3);

    // Host side.
    // Feature report (report ID first): takes the baud rate of a 10-byte report.
    bool SetFeature(const uint8_t* report, size_t length);
    // Output report (report ID first); returns the bytes written. A frame request at the
    // meter's rate makes the meter answer with its next frame.
    uint32_t Write(const uint8_t* report, size_t length);
    // The next input report, kInputReportLength bytes, report ID 0 first.
    std::vector<uint8_t> NextInputReport();

    // The cable loses power (pulled out): its rate setting and any bytes in flight are gone.
    void PowerOff() {
        baud_ = 0;
        plan_.clear();
    }
    // Nothing reads the cable any more: what it sends meanwhile is lost, as the system drops
    // the reports of a HID node that no reader holds open.
    void DropPending() { plan_.clear(); }
    // Frames the meter has answered whose last byte has not been read yet.
    uint64_t FramesInFlight() const {
        uint64_t n = 0;
        for (const auto& p : plan_) n += p.frameEnd;
        return n;
    }

    int Baud() const { return baud_; }
    void SetAnswerDelay(int reports) { answerDelay_ = reports < 0 ? 0 : reports; }
    // Counters for observers.
    uint64_t Requests() const { return requests_; }
    uint64_t ReportsSent() const { return reportsSent_; }
    uint64_t DataReportsSent() const { return dataReportsSent_; }
    // Reports without meter data sent since the last request was written.
    uint64_t IdleSinceRequest() const { return idleSinceRequest_; }
    // Frames the meter has put on the line.
    uint64_t FramesQueued() const { return framesQueued_; }
    // True while meter bytes wait to be sent.
    bool Busy() const { return !plan_.empty(); }
    // True when the next input report carries no meter data.
    bool NextIsIdle() const { return plan_.empty() || plan_.front().bytes.empty(); }

    // How one frame is cut into bursts and reports: each inner vector is one burst, each
    // number the meter bytes of one report. Bursts never begin in front of a 0x5A byte other
    // than the frame's first, so a burst boundary never restarts the frame, and a 361-byte
    // frame never has a boundary right after its first 41 bytes, where the joined text would
    // pass for a complete reading frame.
    static std::vector<std::vector<int>> Chunking(const Frame& frame, uint64_t salt);

private:
    struct Planned {
        uint8_t count = kIdleCountByte;
        std::vector<uint8_t> bytes;
        bool frameEnd = false;  // the report carries the frame's last byte
    };
    void Plan(const Frame& frame);

    SimMeter& meter_;
    uint32_t seed_;
    int answerDelay_;
    int baud_ = 0;
    std::deque<Planned> plan_;
    uint64_t requests_ = 0;
    uint64_t reportsSent_ = 0;
    uint64_t dataReportsSent_ = 0;
    uint64_t idleSinceRequest_ = 0;
    uint64_t framesQueued_ = 0;
};
