#pragma once
// A scriptable in-process HID backend for tests: devices that appear and disappear, refuse
// opening, lack strings or write access, and deliver scripted input reports and read errors.
// Every call is thread-safe.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/hidbackend.h"

// What a simulated interface is like.
struct HidSimDeviceProfile {
    HIDD_ATTRIBUTES attributes{12, 0x1A86, 0xE008, 0x0100};
    // Strings; nullopt: the query fails.
    std::optional<std::u16string> product = std::u16string(u"USB to Serial");
    std::optional<std::u16string> serial = std::u16string();
    // String descriptor 0 (the language list) as the device answers it, terminator included
    // when the device sends one; nullopt: the query fails and leaves the buffer alone.
    std::optional<std::u16string> languages = std::u16string(u"\u0409", 1) + u'\0';
    // Report lengths (report ID byte included); nullopt: no descriptor to be had.
    std::optional<HIDP_CAPS> caps = [] {
        HIDP_CAPS c{};
        c.InputReportByteLength = 9;
        c.OutputReportByteLength = 9;
        c.FeatureReportByteLength = 10;
        return c;
    }();
    bool openable = true;      // false: no opening at all (ENOENT)
    bool writable = true;      // false: read-write and read openings fail with EACCES
    bool identifiable = true;  // false: the attributes cannot be read
    bool acceptsFeature = true;
    bool acceptsWrite = true;
};

class HidSimBackend : public HidBackend {
public:
    HidSimBackend() = default;
    ~HidSimBackend() override;

    bool Available() const override;
    std::vector<HidInterfaceInfo> Enumerate() override;
    std::shared_ptr<HidHandle> Open(const std::string& path, HidAccess access, uint32_t& error) override;

    // false: behave like a system without HID services.
    void SetAvailable(bool available);

    // Adds an interface at the end of the scan order and returns its path. announce: ask for
    // a device-change run on the GUI thread.
    std::string Plug(const HidSimDeviceProfile& profile, bool announce = true);
    // Removes the interface: its open handles fail from now on (reads with ENODEV).
    void Unplug(const std::string& path, bool announce = true);
    // Changes what a present interface is like (later openings and queries see it).
    void Modify(const std::string& path, const HidSimDeviceProfile& profile);

    // Input: reports (report ID first; empty = a read that completes with 0 bytes) and read
    // errors, delivered in the order pushed. What was pushed before a handle opened for reading
    // was closed is not delivered to a reading handle opened after it.
    void PushReport(const std::string& path, std::vector<uint8_t> report);
    void PushReadError(const std::string& path, uint32_t error);

    // Observations.
    std::vector<std::vector<uint8_t>> Features(const std::string& path) const;
    std::vector<std::vector<uint8_t>> Writes(const std::string& path) const;
    // Openings made for the given access.
    int Openings(const std::string& path, HidAccess access) const;
    // Handles of the interface currently open (not closed, not destroyed).
    int OpenHandles(const std::string& path) const;
    // Reads given up by CancelRead.
    int Cancels(const std::string& path) const;
    // Input items not read yet.
    std::size_t PendingInput(const std::string& path) const;
    // Reads that have been started (successfully or not).
    int ReadsStarted(const std::string& path) const;

private:
    class Handle;
    struct Input {
        bool isError = false;
        uint32_t error = 0;
        std::vector<uint8_t> report;
    };
    struct Device {
        std::string path;
        std::string instance;
        HidSimDeviceProfile profile;
        bool present = true;
        std::deque<Input> input;
        std::size_t staleInput = 0;  // the first items of input, queued for a closed reader
        std::vector<std::vector<uint8_t>> features;
        std::vector<std::vector<uint8_t>> writes;
        std::map<HidAccess, int> openings;
        int openHandles = 0;
        int cancels = 0;
        int readsStarted = 0;
    };
    std::shared_ptr<Device> Find(const std::string& path) const;

    mutable std::mutex m_;
    std::condition_variable cv_;
    bool available_ = true;
    int next_ = 0;
    std::vector<std::shared_ptr<Device>> devices_;  // present ones, in scan order
    std::map<std::string, std::shared_ptr<Device>> all_;
};
