#pragma once
// One connection to the USB interface cable, without widgets: it takes the cable (a taken
// THidDevice), sends the baud-rate feature report and the requests, joins the input reports
// into bursts and frames, asks for the next frame after each complete one, runs the
// connection watchdog and follows the cable's removal. What the user is to see or what is to
// be done with a frame is raised as events; the main window and the headless logger both
// drive the cable through this class.
//
//   cable::CableState st;                      // or the window's own variables
//   int32_t noFrameTicks = 0;
//   CableConnection link(st.Vars(), noFrameTicks);
//   link.On.FrameReady = [&] { decode(st.FrameHex); };
//   link.SetCable(device);
//   if (!link.Connect(cable::FeatureBufferForBaud(9600))) ...   // On.AccessRefused told why
//   ...  link.Tick() every 100 ms
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "link/cablelink.h"

class THidDevice;

class CableConnection {
public:
    // After a resume with a request outstanding: reports without meter data to wait for its
    // answer before asking again (the meter answers within a few dozen).
    static constexpr int kResumeGraceReports = 200;

    using FeatureReport = std::array<uint8_t, cable::kFeatureReportLength + 1>;

    struct Events {
        // A line for the device log (feature report, request, report with meter data).
        std::function<void(const QString& line)> LogLine;
        // A burst ended (the window shows the frame text and its length).
        std::function<void(const cable::ReportOutcome& outcome)> BurstEnded;
        // FrameHex holds a complete frame: decode it. The next request follows.
        std::function<void()> FrameReady;
        // The watchdog gave up: the cable answers but the meter has been silent for 3000
        // reports. The reading has stopped.
        std::function<void()> MeterSilent;
        // The cable in use went away. The reading has stopped.
        std::function<void()> CableRemoved;
        // The cable cannot be used: no read-write access, or another program holds it.
        std::function<void(const QString& reason)> AccessRefused;
        // A report was to be sent but there is no cable.
        std::function<void()> NotConnected;
        // An input report has been handled (after any of the events above).
        std::function<void()> ReportHandled;
    };
    Events On;

    CableConnection(cable::CableVars vars, int32_t& noFrameTicks);
    ~CableConnection();
    CableConnection(const CableConnection&) = delete;
    CableConnection& operator=(const CableConnection&) = delete;

    // The cable to talk to (taken from the controller by the caller); nullptr: none.
    // Choosing another device ends the connection to the previous one.
    void SetCable(THidDevice* device);
    THidDevice* Cable() const { return cable_; }

    // Connects: sends the feature report, claims the cable for this program, drops what is
    // left of an earlier burst, sends the first request and starts reading. false when the
    // cable cannot be used (On.AccessRefused has been raised, nothing reads) or there is none.
    bool Connect(const FeatureReport& feature);
    // Stops reading; the cable stays taken but is free for other programs.
    void Disconnect();
    // True between a successful Connect and Disconnect, the watchdog giving up or a removal.
    bool Connected() const { return connected_; }
    // After a device change rebuilt the device list: while connected and the cable is listed
    // again (SetCable), its reading starts again. At most one request is outstanding after it.
    bool Resume();

    // The single steps, for the window's buttons.
    void SendFeature(const FeatureReport& feature);
    void SendRequest();
    void StartReading();
    void StopReading();
    void ResetIdleCounters();
    // Forgets a burst cut off when the reading last stopped.
    void ForgetBurst();

    // One input report (the data handler of the cable).
    void HandleReport(uint8_t reportId, const uint8_t* data, uint16_t size);
    // One watchdog tick (every 100 ms).
    cable::WatchdogOutcome Tick();
    // A device went away; true when it was the cable.
    bool DeviceRemoved(THidDevice* device);
    // Stops everything for good: reports still handed over are ignored from now on.
    void Close();

    // Requests sent whose frame has not come yet (0 or 1 while the link works).
    int OutstandingRequests() const { return outstanding_; }
    uint64_t FramesCompleted() const { return frames_; }
    // Why the last Connect was refused, empty when it was not.
    const QString& RefusalReason() const { return refusal_; }

private:
    void Handle(uint8_t reportId, const uint8_t* data, uint16_t size);
    bool ClaimCable(QString& why);
    void ReleaseClaim();

    cable::CableVars v_;
    int32_t& noFrameTicks_;
    THidDevice* cable_ = nullptr;
    bool connected_ = false;
    bool closed_ = false;
    int outstanding_ = 0;
    bool resumeWaiting_ = false;
    int resumeWait_ = 0;
    uint64_t frames_ = 0;
    QString refusal_;
    std::shared_ptr<void> claim_;
};
