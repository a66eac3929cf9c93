#include "link/cableconnection.h"

#include <cerrno>

#include "link/hidcontroller.h"

namespace {
QString Latin1(const std::string& s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }
}  // namespace

CableConnection::CableConnection(cable::CableVars vars, int32_t& noFrameTicks)
    : v_(vars), noFrameTicks_(noFrameTicks) {}

CableConnection::~CableConnection() { Close(); }

void CableConnection::SetCable(THidDevice* device) {
    if (device == cable_) return;
    if (cable_ && !closed_) cable_->SetDataHandler({});
    ReleaseClaim();
    cable_ = device;
}

bool CableConnection::ClaimCable(QString& why) {
    if (claim_) return true;
    uint32_t error = 0;
    claim_ = cable_->Claim(error);
    if (claim_) return true;
    why = QStringLiteral("%1 is in use by another program (the window or ms42k log); %2 (errno %3)")
              .arg(QString::fromStdString(cable_->DeviceInfo().DevicePath), cable::SystemErrorText(error))
              .arg(error);
    return false;
}

void CableConnection::ReleaseClaim() { claim_.reset(); }

bool CableConnection::Connect(const FeatureReport& feature) {
    refusal_.clear();
    if (closed_) return false;
    if (!cable_) {
        if (On.NotConnected) On.NotConnected();
        return false;
    }
    StopReading();
    SendFeature(feature);
    ResetIdleCounters();
    QString why;
    if (!cable_->ReadWriteAccess()) {
        why = cable_->AccessNote();
        if (why.isEmpty())
            why = QStringLiteral("%1 cannot be opened for reading and writing")
                      .arg(QString::fromStdString(cable_->DeviceInfo().DevicePath));
    } else if (!ClaimCable(why)) {
        // why is set
    } else {
        ForgetBurst();
        // What the cable sent while nothing read it (the answer to a request made before the
        // last disconnect) is dropped: it would be recorded now, stamped with the wrong time.
        cable_->DiscardQueuedInput();
        outstanding_ = 0;
        connected_ = true;
        SendRequest();
        StartReading();
        return true;
    }
    refusal_ = why;
    connected_ = false;
    if (On.AccessRefused) On.AccessRefused(why);
    return false;
}

void CableConnection::Disconnect() {
    connected_ = false;
    resumeWaiting_ = false;
    StopReading();
    ReleaseClaim();
}

bool CableConnection::Resume() {
    if (!connected_ || closed_ || !cable_ || !cable_->ReadWriteAccess()) return false;
    QString why;
    if (!ClaimCable(why)) {
        connected_ = false;
        refusal_ = why;
        if (On.AccessRefused) On.AccessRefused(why);
        return false;
    }
    ForgetBurst();
    StartReading();
    // The meter is asked again only when no request is outstanding: a second request while
    // the answer is on its way keeps one frame more in flight with every device change. An
    // answer that was lost with the old read handle is asked for again when nothing has come
    // after kResumeGraceReports reports.
    if (outstanding_ == 0) {
        SendRequest();
    } else {
        resumeWait_ = 0;
        resumeWaiting_ = true;
    }
    return true;
}

void CableConnection::SendFeature(const FeatureReport& feature) {
    if (!cable_) {
        if (On.NotConnected) On.NotConnected();
        return;
    }
    cable_->SendFeature(feature.data(), uint32_t(cable::kFeatureReportLength));
    if (On.LogLine) On.LogLine(Latin1(cable::FeatureLogLine(feature)));
}

void CableConnection::SendRequest() {
    if (!cable_) {
        if (On.NotConnected) On.NotConnected();
        return;
    }
    const size_t length = cable_->QueryCaps().OutputReportByteLength;
    const std::vector<uint8_t> buf = cable::RequestBuffer(length);
    uint32_t written = 0;
    size_t logged;
    if (cable_->Accessible()) {
        cable_->WriteReport(buf.data(), uint32_t(length), written);
        logged = written;
    } else {
        logged = cable::kUnattemptedWriteCount;  // the device did not open: nothing was tried
    }
    if (written > 0) ++outstanding_;
    if (On.LogLine) On.LogLine(Latin1(cable::RequestLogLine(buf, logged)));
}

void CableConnection::StartReading() {
    if (!cable_ || closed_) return;
    cable_->SetDataHandler(THidDataEvent::Bind(
        this, [this](THidDevice*, uint8_t id, const uint8_t* data, uint16_t size) { HandleReport(id, data, size); }));
}

void CableConnection::StopReading() {
    if (!cable_) return;
    cable_->SetDataHandler({});
}

void CableConnection::ResetIdleCounters() {
    v_.IdleReports = 0;
    v_.IdleSinceRequest = 0;
}

void CableConnection::ForgetBurst() {
    v_.BurstText.clear();
    // A burst cut off when the reading last stopped is not to be finished by the first
    // report of this connection: that would decode the previous frame once more and record
    // an old reading as a new one.
    v_.BurstPending = false;
}

void CableConnection::HandleReport(uint8_t reportId, const uint8_t* data, uint16_t size) {
    if (closed_) return;
    Handle(reportId, data, size);
    if (On.ReportHandled && !closed_) On.ReportHandled();
}

void CableConnection::Handle(uint8_t reportId, const uint8_t* data, uint16_t size) {
    const cable::ReportOutcome out = cable::HandleInputReport(v_, reportId, data, size);
    if (resumeWaiting_) {
        if (out.meterData) {
            resumeWaiting_ = false;  // the answer is coming
        } else if (++resumeWait_ >= kResumeGraceReports) {
            resumeWaiting_ = false;
            outstanding_ = 0;
            SendRequest();
        }
    }
    if (out.meterData) {
        if (On.LogLine) On.LogLine(Latin1(out.line));
        return;
    }
    if (!out.burstEnded) return;
    if (On.BurstEnded) On.BurstEnded(out);
    if (out.frameComplete) {
        ++frames_;
        if (outstanding_ > 0) --outstanding_;
        // A frame that fails is the handler's affair; the next frame is requested either way.
        if (On.FrameReady) On.FrameReady();
        if (closed_ || !connected_) return;
        SendRequest();
    }
}

cable::WatchdogOutcome CableConnection::Tick() {
    const cable::WatchdogOutcome w = cable::WatchdogTick(noFrameTicks_, v_.IdleSinceRequest, v_.IdleReports);
    if (!w.checked || closed_) return w;
    if (w.resendRequest) {
        // The meter's answer is presumed lost: the repeated request replaces it.
        outstanding_ = 0;
        resumeWaiting_ = false;
        SendRequest();
    }
    if (w.giveUp) {
        connected_ = false;
        StopReading();
        ReleaseClaim();
        if (On.MeterSilent) On.MeterSilent();
    }
    return w;
}

bool CableConnection::DeviceRemoved(THidDevice* device) {
    if (!device || device != cable_) return false;
    connected_ = false;
    outstanding_ = 0;
    ReleaseClaim();
    if (On.CableRemoved) On.CableRemoved();
    return true;
}

void CableConnection::Close() {
    if (closed_) return;
    closed_ = true;
    connected_ = false;
    if (cable_) cable_->SetDataHandler({});
    ReleaseClaim();
    cable_ = nullptr;
}
