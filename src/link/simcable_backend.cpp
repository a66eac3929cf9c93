#include "link/simcable_backend.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "link/cablelink.h"

using Clock = std::chrono::steady_clock;

struct SimCableBackend::Shared {
    explicit Shared(const SimCableOptions& o)
        : opt(o), meter(o.seed), cable(meter, o.seed, o.answerDelayReports), lastReport(Clock::now()) {
        meter.SetFramesPerScene(o.framesPerScene);
    }

    mutable std::mutex m;
    std::condition_variable cv;
    SimCableOptions opt;
    SimMeter meter;
    SimCable cable;
    bool cablePlugged = true;
    uint64_t cableGen = 1;
    bool mousePlugged = false;
    uint64_t mouseGen = 0;
    std::optional<uint64_t> budget;
    Clock::time_point lastReport;
    // When the next report is due: idle reports may keep a pace of their own.
    Clock::time_point NextDue() const {
        const int idle = opt.idleIntervalUs < 0 ? opt.reportIntervalUs : opt.idleIntervalUs;
        return lastReport + std::chrono::microseconds(cable.NextIsIdle() ? idle : opt.reportIntervalUs);
    }
    uint64_t featureReports = 0;
};

namespace {
enum class Kind { Cable, Mouse };

// Stores a zero-terminated UTF-16 text in a buffer of `units` units.
bool PutString(const std::u16string& text, char16_t* buffer, std::size_t units) {
    if (units == 0) return false;
    const std::size_t n = std::min(text.size(), units - 1);
    std::copy(text.begin(), text.begin() + std::ptrdiff_t(n), buffer);
    buffer[n] = 0;
    return true;
}

class SimHandle : public HidHandle {
public:
    SimHandle(std::shared_ptr<SimCableBackend::Shared> s, Kind kind, uint64_t gen, HidAccess access)
        : s_(std::move(s)), kind_(kind), gen_(gen), access_(access) {}

    bool GetAttributes(HIDD_ATTRIBUTES& a) override {
        std::lock_guard lk(s_->m);
        if (!AliveLocked()) return false;
        a.Size = 12;
        a.VendorID = kind_ == Kind::Cable ? SimCableBackend::kVendorId : SimCableBackend::kMouseVendorId;
        a.ProductID = kind_ == Kind::Cable ? SimCableBackend::kProductId : SimCableBackend::kMouseProductId;
        a.VersionNumber = 0x0100;
        return true;
    }
    bool GetCaps(HIDP_CAPS& caps) override {
        std::lock_guard lk(s_->m);
        if (!AliveLocked()) return false;
        caps = HIDP_CAPS{};
        if (kind_ == Kind::Cable) {
            caps.UsagePage = 0xFFA0;
            caps.Usage = 0x0001;
            caps.InputReportByteLength = SimCable::kInputReportLength;
            caps.OutputReportByteLength = SimCable::kOutputReportLength;
            caps.FeatureReportByteLength = SimCable::kFeatureReportLength;
        } else {
            caps.UsagePage = 0x0001;
            caps.Usage = 0x0002;
            caps.InputReportByteLength = 5;
        }
        return true;
    }
    bool GetProductString(char16_t* buffer, std::size_t units) override {
        std::lock_guard lk(s_->m);
        if (!AliveLocked()) return false;
        return PutString(kind_ == Kind::Cable ? u"USB to Serial" : u"USB Optical Mouse", buffer, units);
    }
    bool GetSerialNumberString(char16_t*, std::size_t) override { return false; }
    bool GetIndexedString(int index, char16_t* buffer, std::size_t units) override {
        std::lock_guard lk(s_->m);
        if (!AliveLocked() || index != 0 || units < 2) return false;
        buffer[0] = 0x0409;  // English (United States)
        buffer[1] = 0;
        return true;
    }
    bool SetFeature(const uint8_t* report, std::size_t length) override {
        std::lock_guard lk(s_->m);
        if (!AliveLocked() || access_ != HidAccess::ReadWrite || kind_ != Kind::Cable) return false;
        if (!s_->cable.SetFeature(report, length)) return false;
        ++s_->featureReports;
        return true;
    }
    bool Write(const uint8_t* report, std::size_t length, uint32_t& written) override {
        std::lock_guard lk(s_->m);
        if (!AliveLocked() || access_ != HidAccess::ReadWrite || kind_ != Kind::Cable) return false;
        written = s_->cable.Write(report, length);
        s_->cv.notify_all();
        return written == std::min(length, SimCable::kOutputReportLength);
    }
    HidReadResult Read(uint8_t* buffer, std::size_t length, int32_t timeoutMs) override {
        HidReadResult r;
        std::unique_lock lk(s_->m);
        const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
        for (;;) {
            if (closed_) {
                r.status = HidReadStatus::Aborted;
                return r;
            }
            if (kind_ != Kind::Cable || !AliveLocked() || access_ == HidAccess::None) {
                // A pulled-out device: the read fails after a short while.
                s_->cv.wait_until(lk, std::min(deadline, Clock::now() + std::chrono::milliseconds(10)),
                                  [this] { return closed_.load(); });
                if (closed_) {
                    r.status = HidReadStatus::Aborted;
                } else {
                    r.status = HidReadStatus::Failed;
                    r.error = AliveLocked() ? EACCES : ENODEV;
                }
                return r;
            }
            if (s_->budget && *s_->budget == 0) {
                if (!s_->cv.wait_until(lk, deadline, [this] {
                        return closed_.load() || !AliveLocked() || !s_->budget || *s_->budget > 0;
                    })) {
                    r.status = HidReadStatus::Timeout;
                    return r;
                }
                continue;
            }
            const auto now = Clock::now();
            const auto due = std::max(s_->NextDue(), now);
            if (due > deadline) {
                s_->cv.wait_until(lk, deadline, [this] { return closed_.load(); });
                if (closed_) continue;
                r.status = HidReadStatus::Timeout;
                return r;
            }
            if (due > now) {
                // Only closing (or pulling out) ends the wait early.
                s_->cv.wait_until(lk, due, [this] { return closed_.load() || !AliveLocked(); });
                continue;
            }
            const std::vector<uint8_t> report = s_->cable.NextInputReport();
            if (s_->budget) --*s_->budget;
            s_->lastReport = Clock::now();
            const std::size_t n = std::min(length, report.size());
            std::memcpy(buffer, report.data(), n);
            r.status = HidReadStatus::Report;
            r.bytes = uint32_t(n);
            return r;
        }
    }
    void CancelRead() override {}
    void Close() override {
        std::lock_guard lk(s_->m);
        // The reader lets go of the cable: what it sends until the next reader opens is lost.
        if (!closed_ && kind_ == Kind::Cable && access_ == HidAccess::Read && AliveLocked()) s_->cable.DropPending();
        closed_ = true;
        s_->cv.notify_all();
    }

private:
    bool AliveLocked() const {
        if (closed_) return false;
        return kind_ == Kind::Cable ? (s_->cablePlugged && s_->cableGen == gen_)
                                    : (s_->mousePlugged && s_->mouseGen == gen_);
    }

    std::shared_ptr<SimCableBackend::Shared> s_;
    Kind kind_;
    uint64_t gen_;
    HidAccess access_;
    std::atomic<bool> closed_{false};
};
}  // namespace

SimCableBackend::SimCableBackend(SimCableOptions options) : s_(std::make_shared<Shared>(options)) {}

SimCableBackend::~SimCableBackend() = default;

void SimCableBackend::SetSilent(bool silent) {
    std::lock_guard lk(s_->m);
    s_->meter.SetSilent(silent);
}

void SimCableBackend::SetCorruptEvery(int n) {
    std::lock_guard lk(s_->m);
    s_->meter.SetCorruptEvery(n);
}

void SimCableBackend::SetReplay(std::vector<Frame> frames) {
    std::lock_guard lk(s_->m);
    s_->meter.SetReplay(std::move(frames));
}

bool SimCableBackend::ReplayDone() const {
    std::lock_guard lk(s_->m);
    return s_->meter.ReplayDone() && !s_->cable.Busy();
}

SimShown SimCableBackend::CycleShown(uint64_t k) const {
    std::lock_guard lk(s_->m);
    return s_->meter.CycleShown(k);
}

Frame SimCableBackend::CycleFrame(uint64_t k) const {
    std::lock_guard lk(s_->m);
    return s_->meter.CycleFrame(k);
}

void SimCableBackend::PlugCable() {
    {
        std::lock_guard lk(s_->m);
        if (s_->cablePlugged) return;
        s_->cablePlugged = true;
        ++s_->cableGen;
        s_->cv.notify_all();
    }
    NotifyDeviceChange();
}

void SimCableBackend::UnplugCable() {
    {
        std::lock_guard lk(s_->m);
        if (!s_->cablePlugged) return;
        s_->cablePlugged = false;
        s_->cable.PowerOff();
        s_->cv.notify_all();
    }
    NotifyDeviceChange();
}

bool SimCableBackend::CablePlugged() const {
    std::lock_guard lk(s_->m);
    return s_->cablePlugged;
}

void SimCableBackend::PlugMouse() {
    {
        std::lock_guard lk(s_->m);
        if (s_->mousePlugged) return;
        s_->mousePlugged = true;
        ++s_->mouseGen;
    }
    NotifyDeviceChange();
}

void SimCableBackend::UnplugMouse() {
    {
        std::lock_guard lk(s_->m);
        if (!s_->mousePlugged) return;
        s_->mousePlugged = false;
        s_->cv.notify_all();
    }
    NotifyDeviceChange();
}

void SimCableBackend::SetReportBudget(std::optional<uint64_t> reports) {
    std::lock_guard lk(s_->m);
    s_->budget = reports;
    s_->cv.notify_all();
}

void SimCableBackend::AddReportBudget(uint64_t reports) {
    std::lock_guard lk(s_->m);
    s_->budget = s_->budget.value_or(0) + reports;
    s_->cv.notify_all();
}

std::optional<uint64_t> SimCableBackend::ReportBudget() const {
    std::lock_guard lk(s_->m);
    return s_->budget;
}

void SimCableBackend::SetReportInterval(int microseconds) {
    std::lock_guard lk(s_->m);
    s_->opt.reportIntervalUs = std::max(0, microseconds);
    s_->lastReport = Clock::now();
    s_->cv.notify_all();
}

void SimCableBackend::SetAnswerDelay(int reports) {
    std::lock_guard lk(s_->m);
    s_->cable.SetAnswerDelay(reports);
}

SimCableStats SimCableBackend::Stats() const {
    std::lock_guard lk(s_->m);
    SimCableStats st;
    st.requests = s_->cable.Requests();
    st.reportsSent = s_->cable.ReportsSent();
    st.dataReportsSent = s_->cable.DataReportsSent();
    st.idleSinceRequest = s_->cable.IdleSinceRequest();
    st.framesAnswered = s_->meter.FramesSent();
    st.featureReports = s_->featureReports;
    st.baud = s_->cable.Baud();
    st.framesInFlight = s_->cable.FramesInFlight();
    return st;
}

std::vector<HidInterfaceInfo> SimCableBackend::Enumerate() {
    std::lock_guard lk(s_->m);
    std::vector<HidInterfaceInfo> list;
    if (s_->mousePlugged) list.push_back({kMousePath, "sim-mouse-" + std::to_string(s_->mouseGen)});
    if (s_->cablePlugged) list.push_back({kCablePath, "sim-cable-" + std::to_string(s_->cableGen)});
    return list;
}

std::shared_ptr<HidHandle> SimCableBackend::Open(const std::string& path, HidAccess access, uint32_t& error) {
    std::lock_guard lk(s_->m);
    if (path == kCablePath) {
        if (!s_->cablePlugged) {
            error = ENODEV;
            return nullptr;
        }
        return std::make_shared<SimHandle>(s_, Kind::Cable, s_->cableGen, access);
    }
    if (path == kMousePath) {
        if (!s_->mousePlugged) {
            error = ENODEV;
            return nullptr;
        }
        if (access != HidAccess::None) {  // the system keeps pointing devices to itself
            error = EACCES;
            return nullptr;
        }
        return std::make_shared<SimHandle>(s_, Kind::Mouse, s_->mouseGen, access);
    }
    error = ENOENT;
    return nullptr;
}
