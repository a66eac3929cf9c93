#pragma once
// HID device controller: finds the HID interfaces present, follows their arrival and removal,
// hands devices to the application, reads each taken device's input reports on a thread of
// its own and delivers them, one at a time and in order, on the GUI thread.
//
// The window owns one controller and binds its events to its own methods:
//
//   HidCtl = std::make_unique<THidDeviceController>(this, Options.hidBackend);
//   HidCtl->SetOnArrival(THidPlugEvent(this, &TFCOMM::HidCtlArrival));
//   HidCtl->SetOnEnumerate(THidEnumerateEvent(this, &TFCOMM::HidCtlEnumerate));
//   HidCtl->SetOnDeviceDataError(THidDataErrorEvent(this, &TFCOMM::HidCtlDeviceDataError));
//   HidCtl->SetOnRemoval(THidPlugEvent(this, &TFCOMM::HidCtlRemoval));
//   HidCtl->SetOnDeviceChange(TNotifyEvent(this, &TFCOMM::HidCtlDeviceChange));  // runs it now
//   ...
//   SelectedDevice->SetDataHandler(THidDataEvent(this, &TFCOMM::HidDataHandler));  // reads
//   SelectedDevice->SetDataHandler({});                                            // stops
//   delete takenDevice;   // gives a taken device back to the controller
//
// A null backend means the system's (hidraw + udev). Error codes handed to the data error
// handler are Linux errno values. Readers hand their reports over through the event loop of
// the thread that runs the controller (a Qt application object must exist; without a running
// loop, reports wait until StopReader serves them).
#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "link/hidbackend.h"

class THidDevice;
class THidDeviceController;
class THidDeviceReadThread;

// An event: an object-and-method reference. It counts as assigned when its method part is
// set, and two events are equal when their method parts are equal (whatever the object).
//   HidEvent<void(THidDevice*)> e(&window, &TFCOMM::HidCtlArrival);
// A callable without a member function gets its method part from a tag address:
//   auto e = HidEvent<void(THidDevice*)>::Bind(&someTag, [](THidDevice*) { ... });
template <typename Sig>
class HidEvent;

template <typename R, typename... A>
class HidEvent<R(A...)> {
public:
    HidEvent() = default;
    HidEvent(std::nullptr_t) {}

    template <class T, class C>
    requires std::is_base_of_v<C, T> HidEvent(T* object, R (C::*method)(A...)) : object_(object), class_(&typeid(C)) {
        static_assert(sizeof(method) <= sizeof(Key), "member function pointer too large");
        std::memcpy(key_.data(), &method, sizeof(method));
        fn_ = [object, method](A... args) -> R { return (object->*method)(args...); };
    }

    // A callable whose method part is the address tag.
    static HidEvent Bind(const void* tag, std::function<R(A...)> fn, void* object = nullptr) {
        HidEvent e;
        e.object_ = object;
        e.class_ = &typeid(void);
        std::memcpy(e.key_.data(), &tag, sizeof(tag));
        e.fn_ = std::move(fn);
        return e;
    }

    // Assigned: the method part is set.
    explicit operator bool() const { return class_ != nullptr; }
    // Same method part.
    bool operator==(const HidEvent& other) const {
        if (class_ == nullptr || other.class_ == nullptr) return class_ == other.class_;
        return *class_ == *other.class_ && key_ == other.key_;
    }
    void* Object() const { return object_; }
    R operator()(A... args) const { return fn_(args...); }

private:
    using Key = std::array<unsigned char, 2 * sizeof(void*)>;
    void* object_ = nullptr;
    const std::type_info* class_ = nullptr;
    Key key_{};
    std::function<R(A...)> fn_;
};

// A device interface has appeared / disappeared; also the unplug handler of a device.
using THidPlugEvent = HidEvent<void(THidDevice* HidDev)>;
// Called by EnumerateDevices for each plugged device; true = go on.
using THidEnumerateEvent = HidEvent<bool(THidDevice* HidDev, int32_t Idx)>;
// Sender = the controller.
using TNotifyEvent = HidEvent<void(QObject* Sender)>;
// One input report: ReportID = its first byte, Data = the bytes after it (valid only during
// the call), Size = their count.
using THidDataEvent = HidEvent<void(THidDevice* HidDev, uint8_t ReportID, const uint8_t* Data, uint16_t Size)>;
// A read could not be started; Error is an errno value.
using THidDataErrorEvent = HidEvent<void(THidDevice* HidDev, uint32_t Error)>;

// Raised by the controller and the devices.
class EControllerError : public std::runtime_error {
public:
    explicit EControllerError(const std::string& message) : std::runtime_error(message) {}
};

// The plug-and-play description of one interface.
class THidPnPInfo {
public:
    THidPnPInfo(std::string devInst, std::string devicePath)
        : DevInst(std::move(devInst)), DevicePath(std::move(devicePath)) {}
    // Identity of the interface across scans.
    const std::string DevInst;
    // Opens every handle of the device.
    const std::string DevicePath;
};

// One HID device interface. Created only by the controller. Every operation runs on the GUI
// thread. Deleting a taken device gives it back to the controller.
class THidDevice {
public:
    ~THidDevice();
    THidDevice(const THidDevice&) = delete;
    THidDevice& operator=(const THidDevice&) = delete;

    THidDeviceController* Controller() const { return Controller_; }
    const THidPnPInfo& DeviceInfo() const { return *DeviceInfo_; }
    bool Plugged() const { return Plugged_.load(); }
    bool Taken() const { return Taken_.load(); }
    bool InCallback() const { return InCallback_.load(); }
    // Plugged and (taken or inside one of the controller's callbacks for it).
    bool Accessible() const { return Plugged() && (Taken() || InCallback()); }

    // Whether the last opening of the main handle got read and write access.
    bool ReadWriteAccess() const { return ReadWriteAccess_; }
    // Why read and write access was refused (naming the fix), empty when it was not.
    QString AccessNote() const { return AccessNote_; }
    // Identity read at creation.
    HIDD_ATTRIBUTES HiddAttributes() const { return HiddAttributes_; }
    // Report lengths; all zero when the device's descriptor cannot be had.
    HIDP_CAPS QueryCaps();
    // Product string, cached after the first successful read (empty: asked again next time).
    QString ProductText();
    // Serial-number string, cached after the first accepted read.
    QString SerialText();

    // Feature report (report ID first). true when the device accepted it.
    bool SendFeature(const uint8_t* buffer, uint32_t length);
    // Output report (report ID first), written synchronously.
    bool WriteReport(const uint8_t* buffer, uint32_t count, uint32_t& written);
    // Claims the device for this program while the result lives (see HidBackend::Claim);
    // nullptr with error set when another program holds it.
    std::shared_ptr<void> Claim(uint32_t& error);

    // Sets the data handler: an unassigned one stops the reader first; then the reader is
    // started when the device can be read.
    void SetDataHandler(const THidDataEvent& handler);
    const THidDataEvent& DataHandler() const { return DataHandler_; }
    void SetDataErrorHandler(const THidDataErrorEvent& handler) { DataErrorHandler_ = handler; }
    const THidDataErrorEvent& DataErrorHandler() const { return DataErrorHandler_; }
    void SetUnplugHandler(const THidPlugEvent& handler) { UnplugHandler_ = handler; }
    const THidPlugEvent& UnplugHandler() const { return UnplugHandler_; }

    // Wait slice of the reader in milliseconds; values outside 10..10000 are ignored.
    void SetReaderSleepTime(int32_t milliseconds);
    int32_t ReaderSleepTime() const { return ReaderSleepTime_.load(); }

    // Starts the reader when the data handler is assigned, the device is plugged, taken and
    // has read-write access, and no reader exists.
    void StartReader();
    // Stops and frees the reader, serving its pending hand-over meanwhile. The read handle
    // stays open for the next reader.
    void StopReader();
    // Without a reader: closes the read handle, so that the input reports it has queued
    // since the reading stopped are dropped instead of reaching the next reader.
    void DiscardQueuedInput();
    // The reader, running or ended; nullptr when there is none.
    THidDeviceReadThread* Reader() const { return Reader_.get(); }

private:
    friend class THidDeviceController;
    friend class THidDeviceReadThread;
    THidDevice(std::unique_ptr<THidPnPInfo> info, THidDeviceController* controller);

    void OpenMain();
    void CloseMain();
    void CloseRead();
    // Reader thread: the read handle, opened when missing; nullptr (error set) when the
    // device is not accessible or cannot be opened for reading.
    std::shared_ptr<HidHandle> OpenRead(uint32_t& error);
    bool EnsurePreparsed();
    void MarkUnplugged();

    HidBackend& Backend() const { return *Backend_; }

    THidDeviceController* Controller_;
    std::shared_ptr<HidBackend> Backend_;
    std::unique_ptr<THidPnPInfo> DeviceInfo_;
    std::atomic<bool> Plugged_{true};
    std::atomic<bool> Taken_{false};
    std::atomic<bool> InCallback_{false};
    std::shared_ptr<HidHandle> MainHandle_;
    bool ReadWriteAccess_ = false;
    QString AccessNote_;
    std::mutex ReadMutex_;  // guards ReadHandle_ (reader thread vs. GUI thread)
    std::shared_ptr<HidHandle> ReadHandle_;
    HIDD_ATTRIBUTES HiddAttributes_;
    bool HavePreparsed_ = false;
    HIDP_CAPS Preparsed_{};
    QString ProductText_;
    QString SerialText_;
    std::atomic<int32_t> ReaderSleepTime_{100};
    THidDataEvent DataHandler_;
    THidDataErrorEvent DataErrorHandler_;
    THidPlugEvent UnplugHandler_;
    std::unique_ptr<THidDeviceReadThread> Reader_;
};

// The background reader of one device: reads input reports and hands each report and each
// read error to the GUI thread, waiting until the handler has run.
class THidDeviceReadThread {
public:
    ~THidDeviceReadThread();
    THidDeviceReadThread(const THidDeviceReadThread&) = delete;
    THidDeviceReadThread& operator=(const THidDeviceReadThread&) = delete;

    THidDevice* Device() const { return Device_; }
    // The loop has ended (termination, or a handler that raised).
    bool Finished() const;

    // The hand-over between the thread and the GUI thread (internal).
    struct Channel;
    // GUI thread: runs the pending hand-over of ch, if any (internal).
    static void ServeHandOver(const std::shared_ptr<Channel>& ch);

private:
    friend class THidDevice;
    explicit THidDeviceReadThread(THidDevice* device);
    void Resume();
    // GUI thread: signals termination and waits for the thread, serving its hand-overs.
    // When called from inside this reader's own hand-over the wait is left to the end of
    // that hand-over and false is returned (the reader then frees itself).
    bool Stop(std::unique_ptr<THidDeviceReadThread>& self);
    void Execute();

    THidDevice* Device_;
    std::shared_ptr<Channel> Channel_;
};

// The HID device controller. One per program.
class THidDeviceController : public QObject {
    Q_OBJECT
public:
    // backend: the platform layer; null = the system's (hidraw + udev).
    explicit THidDeviceController(QObject* owner = nullptr, std::shared_ptr<HidBackend> backend = nullptr);
    ~THidDeviceController() override;

    // Rescans; reports removals, arrivals and the change.
    void DeviceChange();
    // Walks the plugged devices through OnEnumerate; returns how many were visited.
    int32_t EnumerateDevices();
    // Hands the device at position i to the application (and starts its reader when it has
    // a data handler). false and nullptr when i is out of range or the device is taken.
    bool TakeByIndex(int32_t i, THidDevice*& HidDev);

    // Read-only view of the device list.
    int32_t DeviceCount() const { return static_cast<int32_t>(Devices.size()); }
    THidDevice* Device(int32_t i) const { return Devices.at(static_cast<std::size_t>(i)); }

    int32_t DevThreadSleepTime() const { return DevThreadSleepTime_; }
    void SetDevThreadSleepTime(int32_t value);
    QString Version() const { return QStringLiteral("1.0.22"); }
    // The design lets Version be assigned and discards the value; kept so an assignment still compiles and changes nothing.
    void SetVersion(const QString&) {}

    const THidPlugEvent& OnArrival() const { return OnArrival_; }
    void SetOnArrival(const THidPlugEvent& e) { OnArrival_ = e; }
    const THidEnumerateEvent& OnEnumerate() const { return OnEnumerate_; }
    void SetOnEnumerate(const THidEnumerateEvent& e) { OnEnumerate_ = e; }
    const TNotifyEvent& OnDeviceChange() const { return OnDeviceChange_; }
    void SetOnDeviceChange(const TNotifyEvent& e);
    const THidDataEvent& OnDeviceData() const { return OnDeviceData_; }
    void SetOnDeviceData(const THidDataEvent& e);
    const THidDataErrorEvent& OnDeviceDataError() const { return OnDeviceDataError_; }
    void SetOnDeviceDataError(const THidDataErrorEvent& e);
    const THidPlugEvent& OnDeviceUnplug() const { return OnDeviceUnplug_; }
    void SetOnDeviceUnplug(const THidPlugEvent& e);
    const THidPlugEvent& OnRemoval() const { return OnRemoval_; }
    void SetOnRemoval(const THidPlugEvent& e) { OnRemoval_ = e; }

    HidBackend& Backend() const { return *Backend_; }

private:
    friend class THidDevice;
    std::vector<THidDevice*> ScanInterfaces();
    void CallInside(THidDevice* d, const std::function<void()>& f);

    std::shared_ptr<HidBackend> Backend_;
    std::vector<THidDevice*> Devices;
    bool ChangeReported = false;
    bool Counted_ = false;
    int32_t DevThreadSleepTime_ = 100;
    THidPlugEvent OnArrival_;
    THidEnumerateEvent OnEnumerate_;
    TNotifyEvent OnDeviceChange_;
    THidDataEvent OnDeviceData_;
    THidDataErrorEvent OnDeviceDataError_;
    THidPlugEvent OnDeviceUnplug_;
    THidPlugEvent OnRemoval_;
};
