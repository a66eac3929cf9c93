#pragma once
// The simulated cable and meter as a HID platform layer: the HID device controller sees one
// HID interface with the product string "USB to Serial" and no serial number, reads its
// input reports at the cable's pace and writes its feature and output reports. The cable can
// be pulled out and plugged in again, and another HID device (a mouse, which opens only
// without access rights) can come and go, each with a device-change notification.
//
//   auto sim = std::make_shared<SimCableBackend>();
//   options.hidBackend = sim;          // the window's controller uses it
//   sim->SetSilent(true);              // the meter stops answering
//   sim->UnplugCable();                // the cable is pulled out
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/hidbackend.h"
#include "link/simcable.h"
#include "link/simmeter.h"

struct SimCableOptions {
    uint32_t seed = 1;
    // Time between two input reports, in microseconds (0: as fast as they are read).
    int reportIntervalUs = 2000;
    // Time before a report without meter data; negative: the same as reportIntervalUs.
    int idleIntervalUs = -1;
    // Reports without data between a request and the meter's answer (the meter's measuring time).
    int answerDelayReports = 40;
    // Frames per scene of the readings cycle.
    int framesPerScene = 8;
};

struct SimCableStats {
    uint64_t requests = 0;          // frame requests written to the cable
    uint64_t reportsSent = 0;       // input reports read from the cable
    uint64_t dataReportsSent = 0;   // of these, reports with meter bytes
    uint64_t idleSinceRequest = 0;  // reports without data since the last request
    uint64_t framesAnswered = 0;    // frames the meter sent
    uint64_t featureReports = 0;    // feature reports accepted
    int baud = 0;                   // the rate of the last feature report
    uint64_t framesInFlight = 0;    // answered frames not read completely yet
};

class SimCableBackend : public HidBackend {
public:
    static constexpr uint16_t kVendorId = 0x1209;
    static constexpr uint16_t kProductId = 0x4D4B;
    static constexpr uint16_t kMouseVendorId = 0x0F0F;
    static constexpr uint16_t kMouseProductId = 0x0001;
    static inline const std::string kCablePath = "sim:usb-to-serial";
    static inline const std::string kMousePath = "sim:mouse";
    static inline const char* const kMouseProduct = "USB Optical Mouse";

    explicit SimCableBackend(SimCableOptions options = {});
    ~SimCableBackend() override;

    // The meter (any thread).
    void SetSilent(bool silent);
    void SetCorruptEvery(int n);
    void SetReplay(std::vector<Frame> frames);
    // A replay has been sent completely: the last frame is out and no byte waits.
    bool ReplayDone() const;
    // What frame k of the readings cycle shows (for checking what was recorded).
    SimShown CycleShown(uint64_t k) const;
    Frame CycleFrame(uint64_t k) const;

    // Plugging (any thread); each change notifies the controller.
    void PlugCable();
    void UnplugCable();
    bool CablePlugged() const;
    void PlugMouse();
    void UnplugMouse();

    // Pacing for tests: with a budget, only that many more reports are read (then reads time
    // out); no budget (the default): reports flow freely.
    void SetReportBudget(std::optional<uint64_t> reports);
    void AddReportBudget(uint64_t reports);
    std::optional<uint64_t> ReportBudget() const;
    void SetReportInterval(int microseconds);
    void SetAnswerDelay(int reports);

    SimCableStats Stats() const;

    // HidBackend.
    std::vector<HidInterfaceInfo> Enumerate() override;
    std::shared_ptr<HidHandle> Open(const std::string& path, HidAccess access, uint32_t& error) override;

    struct Shared;

private:
    std::shared_ptr<Shared> s_;
};
