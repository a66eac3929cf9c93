#include "link/simcable.h"

#include <algorithm>

#include "link/cablelink.h"
#include "meter/meterframe.h"

namespace {
uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Meter bytes per burst: what arrives at the cable's serial side between two of its reports
// without data.
constexpr int kMinBurst = 12;
constexpr int kMaxBurst = 24;
}  // namespace

SimCable::SimCable(SimMeter& meter, uint32_t seed, int answerDelayReports)
    : meter_(meter), seed_(seed), answerDelay_(answerDelayReports < 0 ? 0 : answerDelayReports) {}

bool SimCable::SetFeature(const uint8_t* report, size_t length) {
    if (length < kFeatureReportLength) return false;
    baud_ = cable::BaudOfFeatureReport(report, length);
    return true;
}

uint32_t SimCable::Write(const uint8_t* report, size_t length) {
    if (length == 0) return 0;
    const uint32_t written = uint32_t(std::min(length, kOutputReportLength));
    if (!cable::IsFrameRequest(report, length)) return written;
    ++requests_;
    idleSinceRequest_ = 0;
    if (baud_ != kMeterBaud) return written;  // the meter does not understand the request
    if (auto frame = meter_.Answer()) Plan(*frame);
    return written;
}

std::vector<std::vector<int>> SimCable::Chunking(const Frame& frame, uint64_t salt) {
    std::vector<std::vector<int>> bursts;
    uint64_t h = Mix(salt);
    auto next = [&h](int lo, int hi) {
        h = Mix(h);
        return lo + int(h % uint64_t(hi - lo + 1));
    };
    size_t pos = 0;
    while (pos < frame.size()) {
        size_t end = std::min(frame.size(), pos + size_t(next(kMinBurst, kMaxBurst)));
        // Move the boundary past bytes 0x5A: a burst beginning with it would start a new frame.
        // Nor may a burst of a longer frame end right after its first 41 bytes: the joined
        // text would look like a complete reading frame there.
        while (end < frame.size() && (frame[end] == 0x5A || end == kReadingFrameBytes)) ++end;
        std::vector<int> reports;
        for (size_t left = end - pos; left > 0;) {
            const int n = std::min<int>(int(left), next(1, kMaxBytesPerReport));
            reports.push_back(n);
            left -= size_t(n);
        }
        bursts.push_back(std::move(reports));
        pos = end;
    }
    return bursts;
}

void SimCable::Plan(const Frame& frame) {
    ++framesQueued_;
    for (int i = 0; i < answerDelay_; ++i) plan_.push_back(Planned{});
    size_t pos = 0;
    for (const auto& burst : Chunking(frame, (uint64_t(seed_) << 32) ^ framesQueued_)) {
        for (int n : burst) {
            Planned p;
            p.count = uint8_t(0xF0 | n);
            p.bytes.assign(frame.begin() + std::ptrdiff_t(pos), frame.begin() + std::ptrdiff_t(pos + size_t(n)));
            pos += size_t(n);
            p.frameEnd = pos == frame.size();
            plan_.push_back(std::move(p));
        }
        plan_.push_back(Planned{});  // the report without data that ends the burst
    }
}

std::vector<uint8_t> SimCable::NextInputReport() {
    std::vector<uint8_t> report(kInputReportLength, 0);
    Planned p;
    if (!plan_.empty()) {
        p = std::move(plan_.front());
        plan_.pop_front();
    }
    report[1] = p.count;
    for (size_t i = 0; i < p.bytes.size(); ++i) report[2 + i] = p.bytes[i];
    ++reportsSent_;
    if (p.bytes.empty()) {
        ++idleSinceRequest_;
    } else {
        ++dataReportsSent_;
    }
    return report;
}
