#pragma once
// The program's side of the USB interface cable, without widgets and without HID I/O:
// turning input reports into bursts and frames, the connection watchdog's counters, the
// feature and request reports, the texts written to the device log and the rules that pick
// the cable out of the device list. The main window and the headless logger both drive the
// cable through these functions.
#include <QString>
#include <QStringList>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "meter/meterframe.h"

namespace cable {

// The cable's HID product string; the cable reports no serial number.
inline constexpr const char* kProductName = "USB to Serial";

// Messages shown to the user.
inline constexpr const char* kNotConnectedMessage =
    "USB interface cable is not securely connected, please check and re-try.";
inline constexpr const char* kMeterSilentMessage =
    "USB interface cable is securely connected, please check if the meter is ready.";

// The message shown when the cable is there but cannot be used; reason names the system's
// reason and what to do.
QString AccessRefusedMessage(const QString& reason);

// Watchdog thresholds, in reports without meter data.
inline constexpr int32_t kIdleReportsResend = 600;
inline constexpr int32_t kIdleReportsGiveUp = 3000;
// The watchdog looks at the counters on every third tick without a decoded frame.
inline constexpr int32_t kTicksBeforeCheck = 2;

// Size of the request buffer: report ID and up to 64 report bytes.
inline constexpr size_t kRequestBufferSize = 65;
// Length of the feature report (report ID first).
inline constexpr size_t kFeatureReportLength = 10;

// Upper-case hexadecimal text of bytes, two characters per byte, no separators.
std::string HexText(const uint8_t* bytes, size_t count);
// "%.2X " for each byte: two upper-case digits followed by one blank.
std::string HexBytesLine(const uint8_t* bytes, size_t count);

// The text form of an input report: "R " + ID + two blanks, then each data byte followed by a blank.
std::string ReportLine(uint8_t reportId, const uint8_t* data, uint16_t size);

// True when the frame text is complete: exactly 82 or 722 characters, beginning with "5A"
// (the frame format's own rule).
using ::IsCompleteFrame;

// The variables the burst assembly works on. They live elsewhere (the window's shared
// state, the logger's own state); this view binds them by reference.
struct CableVars {
    std::string& BurstText;
    bool& BurstPending;
    std::string& FrameHex;
    int32_t& FrameLen;
    int32_t& IdleReports;
    int32_t& IdleSinceRequest;
};

// Storage for the variables of CableVars, for users without a shared state of their own.
struct CableState {
    std::string BurstText;
    bool BurstPending = false;
    std::string FrameHex;
    int32_t FrameLen = 0;
    int32_t IdleReports = 0;
    int32_t IdleSinceRequest = 0;
    CableVars Vars() { return {BurstText, BurstPending, FrameHex, FrameLen, IdleReports, IdleSinceRequest}; }
};

// What one input report did.
struct ReportOutcome {
    std::string line;            // the report line, for the log: empty unless meterData
    bool meterData = false;      // the report carried meter data (its line goes to the log)
    bool burstEnded = false;     // a burst ended with this report
    bool newFrame = false;       // that burst began with "5A" and replaced the frame text
    std::string burst;           // the text of the ended burst
    bool appended = false;       // that burst was appended to the frame text (a frame longer
                                 // than 722 characters is spoilt for good and grows no further)
    bool frameComplete = false;  // after the burst end the frame text is complete: decode, then request
};

// Handles one input report: counts, burst text and frame joining, decided from the report's
// bytes (the count is data[0] & 0x0F). The caller acts on the outcome (log line, memo, serial
// line, decoder, next request, frame length label).
ReportOutcome HandleInputReport(CableVars vars, uint8_t reportId, const uint8_t* data, uint16_t size);

// One tick of the connection watchdog.
struct WatchdogOutcome {
    bool checked = false;        // counters were looked at: show the dark connection picture
    bool resendRequest = false;  // send the request again
    bool giveUp = false;         // drop the link and tell the user the meter is silent
};
// Updates NoFrameTicks and the idle counters as one tick of the watchdog does; the caller
// sends the request first, then gives up, then switches the pictures.
WatchdogOutcome WatchdogTick(int32_t& noFrameTicks, int32_t& idleSinceRequest, int32_t& idleReports);

// The baud-rate feature report (report ID 0 first), built from the ticked rates in the
// order 9600, 4800, 2400, each later one overwriting the earlier.
std::array<uint8_t, kFeatureReportLength + 1> FeatureBuffer(bool b9600, bool b4800, bool b2400);
// The feature report for one baud rate (9600, 4800 or 2400; any other leaves the rate bytes 0).
std::array<uint8_t, kFeatureReportLength + 1> FeatureBufferForBaud(int baud);
// The log line of a feature report: bytes 1 to 10 of the buffer.
std::string FeatureLogLine(const std::array<uint8_t, kFeatureReportLength + 1>& buffer);
// Decodes the baud rate of a feature report (report ID first); 0 when it is none of the three.
int BaudOfFeatureReport(const uint8_t* report, size_t length);

// The request buffer for a device whose output report is `outputReportLength` bytes long:
// zero-filled, at least 65 bytes and always long enough for that report, bytes 1-3 = 02 5A 00.
std::vector<uint8_t> RequestBuffer(size_t outputReportLength);
// True when an output report (report ID first) is the request for a frame.
bool IsFrameRequest(const uint8_t* report, size_t length);
// The log line of a request: `written` bytes of the buffer starting at byte 1 (bytes the
// buffer does not hold are left out).
std::string RequestLogLine(const std::vector<uint8_t>& buffer, size_t written);
// The count logged when the write was not attempted because the device did not open.
inline constexpr size_t kUnattemptedWriteCount = 10;

// The name a device is listed under.
QString DeviceDisplayName(const QString& product, const QString& serial, uint16_t vendorId, uint16_t productId);
// The entry to select in a device list: the last entry whose text is exactly the cable's
// product name, or -1 when there is none.
int SelectCableEntry(const QStringList& entries);

// Log lines of device events.
QString ArrivalLine(const QString& displayName);
QString RemovalLine(const QString& displayName);
QString ReadErrorLine(const QString& systemMessage, uint32_t error);
// The system's message text for an error code (errno values on this platform).
QString SystemErrorText(uint32_t error);

}  // namespace cable
