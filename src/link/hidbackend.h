#pragma once
// The platform layer under the HID device controller: finding the HID interfaces present,
// opening them, querying them, reading and writing reports, and being told when devices
// come and go. The controller (link/hidcontroller.h) is written against this interface only;
// MakeHidrawBackend() (link/hidraw_backend.h) is the real one on Linux, HidSimBackend
// (link/hidsim_backend.h) a scriptable one for tests, and further ones (a simulated cable)
// implement it the same way.
//
// Error codes are Linux errno values (EACCES, ENODEV, EIO, ...).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Identity of a device, read from the device. Size is always 12.
struct HIDD_ATTRIBUTES {
    uint32_t Size = 12;
    uint16_t VendorID = 0;
    uint16_t ProductID = 0;
    uint16_t VersionNumber = 0;
};

// Capabilities of a device (64 bytes). The report lengths count the report ID byte, which is
// always present in the buffers the controller exchanges (0 for a device without numbered
// reports): a device whose largest input report carries 8 bytes has InputReportByteLength 9.
struct HIDP_CAPS {
    uint16_t Usage = 0;
    uint16_t UsagePage = 0;
    uint16_t InputReportByteLength = 0;
    uint16_t OutputReportByteLength = 0;
    uint16_t FeatureReportByteLength = 0;
    uint16_t Reserved[17] = {};
    uint16_t NumberLinkCollectionNodes = 0;
    uint16_t NumberInputButtonCaps = 0;
    uint16_t NumberInputValueCaps = 0;
    uint16_t NumberInputDataIndices = 0;
    uint16_t NumberOutputButtonCaps = 0;
    uint16_t NumberOutputValueCaps = 0;
    uint16_t NumberOutputDataIndices = 0;
    uint16_t NumberFeatureButtonCaps = 0;
    uint16_t NumberFeatureValueCaps = 0;
    uint16_t NumberFeatureDataIndices = 0;
};
static_assert(sizeof(HIDP_CAPS) == 64, "HIDP_CAPS is a 64-byte record");

// Units of the string buffers (254 UTF-16 units = 508 bytes).
inline constexpr std::size_t kHidStringUnits = 254;

// One present HID interface as found by a scan.
struct HidInterfaceInfo {
    // Opens every handle of the interface (e.g. /dev/hidraw3).
    std::string path;
    // Identity of the interface across scans: the same while the interface stays present,
    // never the same for an interface that was removed and came back.
    std::string instance;
};

enum class HidAccess {
    ReadWrite,  // queries, feature and output reports
    Read,       // input reports (the reader's handle)
    None,       // queries only (attributes, strings, capabilities)
};

enum class HidReadStatus {
    Report,   // one input report was read (bytes may be 0)
    Timeout,  // nothing arrived within the wait; the read stays pending until CancelRead
    Failed,   // the read could not be started; error says why
    Aborted,  // the read ended without a result (handle closed): nothing to hand over
};

struct HidReadResult {
    HidReadStatus status = HidReadStatus::Timeout;
    uint32_t bytes = 0;  // Report: bytes stored, report ID first
    uint32_t error = 0;  // Failed: errno value
};

// An open handle of one interface. Everything but Read, CancelRead and Close runs on the GUI
// thread. Read and CancelRead run on the reader thread of the device; Close may run on any
// thread while a Read is in progress on another.
class HidHandle {
public:
    virtual ~HidHandle() = default;

    // Vendor, product and version numbers. false: the device cannot be identified.
    virtual bool GetAttributes(HIDD_ATTRIBUTES& attributes) = 0;
    // Report lengths from the device's report descriptor. false: no descriptor to be had.
    virtual bool GetCaps(HIDP_CAPS& caps) = 0;
    // Strings: store a zero-terminated UTF-16 text in buffer (units units, filled by the
    // caller beforehand). false: the device gave no answer; buffer is left as it was.
    virtual bool GetProductString(char16_t* buffer, std::size_t units) = 0;
    virtual bool GetSerialNumberString(char16_t* buffer, std::size_t units) = 0;
    // String descriptor `index`; index 0 is the device's language list.
    virtual bool GetIndexedString(int index, char16_t* buffer, std::size_t units) = 0;
    // Feature report, report ID first. Needs ReadWrite access.
    virtual bool SetFeature(const uint8_t* report, std::size_t length) = 0;
    // Output report, report ID first; written gets the byte count written. Needs ReadWrite.
    virtual bool Write(const uint8_t* report, std::size_t length, uint32_t& written) = 0;
    // Reader thread: waits at most timeoutMs for one input report and stores it, report ID
    // first, in buffer (at most length bytes).
    virtual HidReadResult Read(uint8_t* buffer, std::size_t length, int32_t timeoutMs) = 0;
    // Reader thread: gives up a read left pending by a Read that timed out.
    virtual void CancelRead() = 0;
    // Any thread: closes the handle. A Read in progress ends soon with Aborted; later calls
    // fail. The object itself lives on while someone holds it.
    virtual void Close() = 0;
};

// The platform's HID services. Open may run on reader threads as well as on the GUI thread;
// everything else runs on the GUI thread.
class HidBackend {
public:
    HidBackend();
    virtual ~HidBackend();
    HidBackend(const HidBackend&) = delete;
    HidBackend& operator=(const HidBackend&) = delete;

    // false: the platform's HID services are missing; the controller then lists nothing.
    virtual bool Available() const { return true; }
    // The HID interfaces present now, in a stable order.
    virtual std::vector<HidInterfaceInfo> Enumerate() = 0;
    // Opens the interface at path. On failure: nullptr and error = the errno value.
    virtual std::shared_ptr<HidHandle> Open(const std::string& path, HidAccess access, uint32_t& error) = 0;
    // Claims the interface at path for this program while the result lives, so that a second
    // program (the window and the logger) cannot read the same cable at once. On failure:
    // nullptr and error = the errno value (EBUSY: another program holds it). The default
    // claims nothing and always succeeds.
    virtual std::shared_ptr<void> Claim(const std::string& path, uint32_t& error);

    // The controller's device-change hook: onChange runs on the GUI thread after devices
    // came or went. An empty function removes the hook.
    void Watch(std::function<void()> onChange);
    bool Watching() const;
    // Any thread: asks for one run of the hook on the GUI thread (through the event loop).
    // Requests made before that run happens are served by the same run.
    void NotifyDeviceChange();

protected:
    // Called when the hook is installed (true) or removed (false): a backend starts and
    // stops watching the system here.
    virtual void WatchingChanged(bool on);

private:
    struct WatchState;
    std::shared_ptr<WatchState> watch_;
};
