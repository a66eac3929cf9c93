// HID device controller, its devices and their readers.
#include "link/hidcontroller.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <thread>

#include "link/hidraw_backend.h"

namespace {

// Live controllers in this process (at most one).
std::atomic<int> gLiveControllers{0};

// Sets the device's InCallback flag for the duration of a controller callback, also when the
// callback raises.
class InCallbackScope {
public:
    explicit InCallbackScope(std::atomic<bool>& flag) : flag_(flag) { flag_ = true; }
    ~InCallbackScope() { flag_ = false; }
    InCallbackScope(const InCallbackScope&) = delete;
    InCallbackScope& operator=(const InCallbackScope&) = delete;

private:
    std::atomic<bool>& flag_;
};

QString Utf16Text(const char16_t* units, std::size_t max) {
    std::size_t n = 0;
    while (n < max && units[n] != 0) ++n;
    return QString::fromUtf16(units, static_cast<qsizetype>(n));
}

QString AccessNoteFor(const std::string& path, uint32_t error) {
    QString note =
        QStringLiteral("%1 cannot be opened for reading and writing: %2 (errno %3)")
            .arg(QString::fromStdString(path), QString::fromLocal8Bit(std::strerror(static_cast<int>(error))))
            .arg(error);
    if (error == EACCES || error == EPERM)
        note += QStringLiteral(
                    ". The udev rule file %1 (installed with the program in lib/udev/rules.d) "
                    "gives the desktop's user access to the cable: install it, then plug the cable in again")
                    .arg(QString::fromLatin1(kHidrawUdevRule));
    return note;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Reader

// Wakes the GUI thread for pending hand-overs: readers queue their channel and write an
// eventfd; a socket notifier on the GUI thread serves the queue from the event loop. (Plain
// file-descriptor signalling, so that the reader threads never touch Qt objects.)
struct HidHandOverQueue {
    int fd = -1;
    std::mutex m;
    std::deque<std::weak_ptr<THidDeviceReadThread::Channel>> pending;
    ~HidHandOverQueue() {
        if (fd >= 0) ::close(fd);
    }
    // Reader thread.
    void Post(std::weak_ptr<THidDeviceReadThread::Channel> ch) {
        {
            std::lock_guard lock(m);
            pending.push_back(std::move(ch));
        }
        const uint64_t one = 1;
        if (fd >= 0) {
            const ssize_t n = ::write(fd, &one, sizeof one);
            (void)n;  // a full counter still wakes the GUI thread
        }
    }
};

namespace {

// GUI thread: the one queue of the program, with its notifier (owned by the application
// object, so it goes with it).
std::shared_ptr<HidHandOverQueue> TheHandOverQueue() {
    static std::shared_ptr<HidHandOverQueue> queue;
    static QPointer<QSocketNotifier> notifier;
    if (queue && notifier) return queue;
    queue = std::make_shared<HidHandOverQueue>();
    queue->fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    QCoreApplication* app = QCoreApplication::instance();
    if (queue->fd >= 0 && app) {
        notifier = new QSocketNotifier(queue->fd, QSocketNotifier::Read, app);
        std::weak_ptr<HidHandOverQueue> weak = queue;
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [weak] {
            const auto q = weak.lock();
            if (!q) return;
            uint64_t count = 0;
            const ssize_t n = ::read(q->fd, &count, sizeof count);
            (void)n;
            for (;;) {
                std::weak_ptr<THidDeviceReadThread::Channel> next;
                {
                    std::lock_guard lock(q->m);
                    if (q->pending.empty()) break;
                    next = std::move(q->pending.front());
                    q->pending.pop_front();
                }
                if (auto ch = next.lock()) THidDeviceReadThread::ServeHandOver(ch);
            }
        });
    }
    return queue;
}

}  // namespace

// The hand-over between a reader thread and the GUI thread. The reader stores a report or an
// error, marks the hand-over pending and queues it for the GUI thread; it then
// waits until the hand-over is done. Serve runs on the GUI thread, either from the event loop
// or from StopReader, which serves pending hand-overs while it waits for the thread to end.
struct THidDeviceReadThread::Channel {
    enum class State { Idle, Pending, Running, Done };
    enum class Kind { Data, Error };

    std::mutex m;
    std::condition_variable cv;
    bool terminated = false;  // the termination signal
    bool finished = false;    // the loop has ended
    bool failed = false;      // a handler raised: the loop ends
    State state = State::Idle;
    Kind kind = Kind::Data;
    // GUI-thread fields.
    THidDeviceReadThread* reader = nullptr;
    std::shared_ptr<HidHandOverQueue> queue;
    bool stopping = false;  // a Stop is waiting for the thread
    // A reader stopped from inside its own hand-over: freed when that hand-over ends.
    std::unique_ptr<THidDeviceReadThread> orphan;
    std::thread thread;
    // Reader fields, read by the GUI thread only during a hand-over.
    std::vector<uint8_t> ReportBuffer;
    uint32_t BytesRead = 0;
    uint32_t LastError = 0;

    bool Terminated() {
        std::lock_guard lock(m);
        return terminated;
    }

    // GUI thread.
    static void Serve(const std::shared_ptr<Channel>& ch) {
        {
            std::lock_guard lock(ch->m);
            if (ch->state != State::Pending) return;
            ch->state = State::Running;
        }
        bool failed = false;
        try {
            THidDevice* device = ch->reader->Device_;
            if (ch->kind == Kind::Data) {
                // The device and this channel may be gone once the handler returns (a handler
                // may stop the reader or give the device back): nothing is touched after it.
                if (device->DataHandler_) {
                    const THidDataEvent handler = device->DataHandler_;
                    handler(device, ch->ReportBuffer[0], ch->ReportBuffer.data() + 1,
                            static_cast<uint16_t>(ch->BytesRead - 1));
                }
            } else if (device->DataErrorHandler_) {
                const THidDataErrorEvent handler = device->DataErrorHandler_;
                handler(device, ch->LastError);
            }
        } catch (...) {
            failed = true;
        }
        std::unique_ptr<THidDeviceReadThread> orphan;
        {
            std::lock_guard lock(ch->m);
            ch->state = State::Done;
            if (failed) ch->failed = true;
            orphan = std::move(ch->orphan);
        }
        ch->cv.notify_all();
        if (orphan) {
            if (orphan->Channel_->thread.joinable()) orphan->Channel_->thread.join();
            orphan.reset();
        }
    }

    // Reader thread: one synchronous hand-over. false when the handler raised.
    static bool HandOver(const std::shared_ptr<Channel>& ch, Kind kind) {
        {
            std::lock_guard lock(ch->m);
            ch->kind = kind;
            ch->state = State::Pending;
        }
        ch->cv.notify_all();  // a StopReader waiting for the thread serves it
        ch->queue->Post(ch);
        std::unique_lock lock(ch->m);
        ch->cv.wait(lock, [&] { return ch->state == State::Done; });
        ch->state = State::Idle;
        return !ch->failed;
    }

    // Reader thread: waits up to ms for the termination signal.
    void Pause(int32_t ms) {
        std::unique_lock lock(m);
        cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return terminated; });
    }
};

THidDeviceReadThread::THidDeviceReadThread(THidDevice* device)
    : Device_(device), Channel_(std::make_shared<Channel>()) {
    Channel_->reader = this;
    Channel_->queue = TheHandOverQueue();
    const HIDP_CAPS caps = device->QueryCaps();
    Channel_->ReportBuffer.assign(caps.InputReportByteLength, 0);
}

THidDeviceReadThread::~THidDeviceReadThread() {
    // Only reached for an ended and joined thread, or one that never ran.
    if (Channel_->thread.joinable()) {
        {
            std::lock_guard lock(Channel_->m);
            Channel_->terminated = true;
        }
        Channel_->cv.notify_all();
        Channel_->thread.join();
    }
}

void THidDeviceReadThread::ServeHandOver(const std::shared_ptr<Channel>& ch) { Channel::Serve(ch); }

bool THidDeviceReadThread::Finished() const {
    std::lock_guard lock(Channel_->m);
    return Channel_->finished;
}

void THidDeviceReadThread::Resume() {
    Channel_->thread = std::thread([this] { Execute(); });
}

bool THidDeviceReadThread::Stop(std::unique_ptr<THidDeviceReadThread>& self) {
    const std::shared_ptr<Channel> ch = Channel_;
    bool inOwnHandOver;
    {
        std::lock_guard lock(ch->m);
        ch->terminated = true;
        inOwnHandOver = ch->state == Channel::State::Running;
    }
    ch->cv.notify_all();
    if (inOwnHandOver) {
        // Waiting here would wait for the handler below us on the stack: the hand-over frees
        // the reader when it ends.
        ch->orphan = std::move(self);
        return false;
    }
    ch->stopping = true;
    for (;;) {
        std::unique_lock lock(ch->m);
        ch->cv.wait(lock, [&] { return ch->state == Channel::State::Pending || ch->finished; });
        if (ch->state == Channel::State::Pending) {
            lock.unlock();
            Channel::Serve(ch);
            continue;
        }
        break;
    }
    if (ch->thread.joinable()) ch->thread.join();
    return true;
}

void THidDeviceReadThread::Execute() {
    const std::shared_ptr<Channel> ch = Channel_;
    THidDevice* const device = Device_;
    std::vector<uint8_t>& buffer = ch->ReportBuffer;
    std::shared_ptr<HidHandle> handle;
    bool pending = false;  // a read timed out and was not given up yet

    // The device is alive while termination has not been signalled; after the signal the
    // loop touches only its own handle copy.
    while (!ch->Terminated()) {
        if (pending && handle) handle->CancelRead();
        pending = false;
        std::fill(buffer.begin(), buffer.end(), uint8_t{0});
        uint32_t error = 0;
        handle = device->OpenRead(error);
        if (!handle) {
            ch->LastError = error;
            if (!Channel::HandOver(ch, Channel::Kind::Error)) break;
            if (ch->Terminated()) break;
            ch->Pause(device->ReaderSleepTime());
            continue;
        }
        HidReadResult r;
        for (;;) {
            r = handle->Read(buffer.data(), buffer.size(), device->ReaderSleepTime());
            if (r.status != HidReadStatus::Timeout) break;
            pending = true;
            if (ch->Terminated()) break;
        }
        if (r.status == HidReadStatus::Timeout) break;  // terminated while waiting
        pending = false;
        if (r.status == HidReadStatus::Report) {
            // A report that has been read is handed over even when termination was signalled
            // meanwhile: StopReader serves it, so no report is lost between readers.
            ch->BytesRead = std::min<uint32_t>(r.bytes, static_cast<uint32_t>(buffer.size()));
            if (ch->BytesRead > 0 && !Channel::HandOver(ch, Channel::Kind::Data)) break;
        } else if (r.status == HidReadStatus::Failed) {
            ch->LastError = r.error;
            if (!Channel::HandOver(ch, Channel::Kind::Error)) break;
            if (ch->Terminated()) break;
            ch->Pause(device->ReaderSleepTime());
        }
        // Aborted: nothing to hand over; the next read starts.
    }
    if (pending && handle) handle->CancelRead();
    handle.reset();
    {
        std::lock_guard lock(ch->m);
        ch->finished = true;
    }
    ch->cv.notify_all();
}

// ---------------------------------------------------------------------------------------------
// Device

THidDevice::THidDevice(std::unique_ptr<THidPnPInfo> info, THidDeviceController* controller)
    : Controller_(controller), Backend_(controller->Backend_), DeviceInfo_(std::move(info)) {
    SetDataHandler(controller->OnDeviceData_);
    DataErrorHandler_ = controller->OnDeviceDataError_;
    UnplugHandler_ = controller->OnDeviceUnplug_;

    uint32_t error = 0;
    MainHandle_ = Backend().Open(DeviceInfo_->DevicePath, HidAccess::ReadWrite, error);
    ReadWriteAccess_ = MainHandle_ != nullptr;
    if (!MainHandle_) {
        AccessNote_ = AccessNoteFor(DeviceInfo_->DevicePath, error);
        uint32_t ignored = 0;
        MainHandle_ = Backend().Open(DeviceInfo_->DevicePath, HidAccess::None, ignored);
    }
    if (!MainHandle_) throw EControllerError("device cannot be opened");
    HiddAttributes_.Size = 12;
    if (!MainHandle_->GetAttributes(HiddAttributes_)) {
        CloseMain();
        throw EControllerError("device cannot be identified");
    }
    HiddAttributes_.Size = 12;
    CloseMain();
}

THidDevice::~THidDevice() {
    const THidDataEvent dataHandler = DataHandler_;
    const THidPlugEvent unplugHandler = UnplugHandler_;
    SetDataHandler({});
    UnplugHandler_ = {};
    CloseMain();
    CloseRead();
    HavePreparsed_ = false;

    if (THidDeviceController* c = Controller_) {
        auto it = std::find(c->Devices.begin(), c->Devices.end(), this);
        if (it != c->Devices.end()) {
            const std::size_t pos = static_cast<std::size_t>(it - c->Devices.begin());
            THidDevice* fresh = nullptr;
            if (Plugged()) {
                try {
                    fresh = new THidDevice(std::make_unique<THidPnPInfo>(*DeviceInfo_), c);
                } catch (const std::exception&) {
                    // The interface cannot be opened or identified any more: the position
                    // leaves the list, as for a removed device.
                    fresh = nullptr;
                }
            }
            if (fresh) {
                fresh->SetDataHandler(dataHandler);
                fresh->UnplugHandler_ = unplugHandler;
                fresh->SetReaderSleepTime(ReaderSleepTime());
                c->Devices[pos] = fresh;
            } else {
                c->Devices.erase(c->Devices.begin() + static_cast<std::ptrdiff_t>(pos));
            }
        }
    }
}

void THidDevice::OpenMain() {
    if (!Accessible() || MainHandle_) return;
    uint32_t error = 0;
    MainHandle_ = Backend().Open(DeviceInfo_->DevicePath, HidAccess::ReadWrite, error);
    ReadWriteAccess_ = MainHandle_ != nullptr;
    if (MainHandle_) {
        AccessNote_.clear();
    } else {
        AccessNote_ = AccessNoteFor(DeviceInfo_->DevicePath, error);
        uint32_t ignored = 0;
        MainHandle_ = Backend().Open(DeviceInfo_->DevicePath, HidAccess::None, ignored);
    }
}

void THidDevice::CloseMain() {
    if (MainHandle_) {
        MainHandle_->Close();
        MainHandle_.reset();
    }
}

void THidDevice::CloseRead() {
    std::shared_ptr<HidHandle> h;
    {
        std::lock_guard lock(ReadMutex_);
        h = std::move(ReadHandle_);
        ReadHandle_.reset();
    }
    if (h) h->Close();
}

std::shared_ptr<HidHandle> THidDevice::OpenRead(uint32_t& error) {
    std::lock_guard lock(ReadMutex_);
    if (!Accessible()) {
        error = ENODEV;
        return nullptr;
    }
    if (!ReadHandle_) {
        error = 0;
        ReadHandle_ = Backend().Open(DeviceInfo_->DevicePath, HidAccess::Read, error);
        if (!ReadHandle_ && error == 0) error = EIO;
    }
    return ReadHandle_;
}

bool THidDevice::EnsurePreparsed() {
    if (!HavePreparsed_) {
        OpenMain();
        if (MainHandle_) {
            HIDP_CAPS caps{};
            if (MainHandle_->GetCaps(caps)) {
                Preparsed_ = caps;
                HavePreparsed_ = true;
            }
            CloseMain();
        }
    }
    return HavePreparsed_;
}

HIDP_CAPS THidDevice::QueryCaps() {
    HIDP_CAPS caps{};
    if (EnsurePreparsed()) caps = Preparsed_;
    return caps;
}

QString THidDevice::ProductText() {
    if (ProductText_.isEmpty()) {
        OpenMain();
        if (MainHandle_) {
            char16_t buffer[kHidStringUnits] = {};
            if (MainHandle_->GetProductString(buffer, kHidStringUnits))
                ProductText_ = Utf16Text(buffer, kHidStringUnits);
        }
        CloseMain();
    }
    return ProductText_;
}

QString THidDevice::SerialText() {
    if (SerialText_.isEmpty()) {
        OpenMain();
        if (MainHandle_) {
            char16_t serial[kHidStringUnits] = {};
            if (MainHandle_->GetSerialNumberString(serial, kHidStringUnits)) {
                // Some devices answer the serial-number query with their language list
                // (string descriptor 0): such an answer is not a serial number.
                char16_t languages[kHidStringUnits];
                std::fill(std::begin(languages), std::end(languages), char16_t{0xFFFF});
                MainHandle_->GetIndexedString(0, languages, kHidStringUnits);
                std::size_t n = 0;
                for (std::size_t k = kHidStringUnits; k-- > 0;) {
                    if (languages[k] == 0xFFFF) continue;
                    n = languages[k] == 0 ? k : k + 1;
                    break;
                }
                bool differs = false;
                for (std::size_t k = 0; k < n; ++k) {
                    if (serial[k] != languages[k]) {
                        differs = true;
                        break;
                    }
                }
                if (differs) SerialText_ = Utf16Text(serial, kHidStringUnits);
            }
        }
        CloseMain();
    }
    return SerialText_;
}

bool THidDevice::SendFeature(const uint8_t* buffer, uint32_t length) {
    OpenMain();
    if (!MainHandle_) return false;
    return MainHandle_->SetFeature(buffer, length);
}

bool THidDevice::WriteReport(const uint8_t* buffer, uint32_t count, uint32_t& written) {
    written = 0;
    OpenMain();
    if (!MainHandle_) return false;
    return MainHandle_->Write(buffer, count, written);
}

std::shared_ptr<void> THidDevice::Claim(uint32_t& error) {
    error = 0;
    if (!Plugged()) {
        error = ENODEV;
        return nullptr;
    }
    return Backend().Claim(DeviceInfo_->DevicePath, error);
}

void THidDevice::SetDataHandler(const THidDataEvent& handler) {
    if (!handler) StopReader();
    DataHandler_ = handler;
    StartReader();
}

void THidDevice::SetReaderSleepTime(int32_t milliseconds) {
    if (milliseconds >= 10 && milliseconds <= 10000) ReaderSleepTime_ = milliseconds;
}

void THidDevice::StartReader() {
    if (DataHandler_ && Plugged() && Taken() && ReadWriteAccess_ && !Reader_) {
        Reader_.reset(new THidDeviceReadThread(this));
        Reader_->Resume();
    }
}

void THidDevice::StopReader() {
    if (!Reader_) return;
    if (Reader_->Channel_->stopping) return;  // an outer StopReader is already waiting
    if (Reader_->Stop(Reader_)) Reader_.reset();
}

void THidDevice::DiscardQueuedInput() {
    if (Reader_) return;
    CloseRead();
}

void THidDevice::MarkUnplugged() {
    {
        // Under the read lock: a reader opening its handle sees either the handle closed
        // below or the device unplugged, never a fresh handle after the close.
        std::lock_guard lock(ReadMutex_);
        Plugged_ = false;
    }
    CloseMain();
    CloseRead();
    const THidPlugEvent handler = UnplugHandler_;
    UnplugHandler_ = {};
    if (handler) handler(this);
}

// ---------------------------------------------------------------------------------------------
// Controller

THidDeviceController::THidDeviceController(QObject* owner, std::shared_ptr<HidBackend> backend)
    : QObject(owner), Backend_(backend ? std::move(backend) : MakeHidrawBackend()) {
    int expected = 0;
    if (!gLiveControllers.compare_exchange_strong(expected, 1))
        throw EControllerError("Only one THidDeviceController allowed per program");
    Counted_ = true;
    try {
        Devices = ScanInterfaces();
    } catch (...) {
        gLiveControllers = 0;
        throw;
    }
    if (Backend_->Available()) Backend_->Watch([this] { DeviceChange(); });
}

THidDeviceController::~THidDeviceController() {
    if (Counted_) gLiveControllers = 0;
    OnDeviceChange_ = {};
    OnDeviceUnplug_ = {};
    OnEnumerate_ = {};
    Backend_->Watch({});
    const std::vector<THidDevice*> devices = std::move(Devices);
    Devices.clear();
    for (THidDevice* d : devices) {
        d->Controller_ = nullptr;
        if (d->Taken())
            d->MarkUnplugged();  // the application still holds it and deletes it later
        else
            delete d;
    }
}

std::vector<THidDevice*> THidDeviceController::ScanInterfaces() {
    std::vector<THidDevice*> list;
    if (!Backend_->Available()) return list;
    for (const HidInterfaceInfo& info : Backend_->Enumerate()) {
        try {
            list.push_back(new THidDevice(std::make_unique<THidPnPInfo>(info.instance, info.path), this));
        } catch (const std::exception&) {
            // An interface that cannot be opened or identified is left out.
        }
    }
    return list;
}

void THidDeviceController::CallInside(THidDevice* d, const std::function<void()>& f) {
    InCallbackScope scope(d->InCallback_);
    f();
}

void THidDeviceController::DeviceChange() {
    std::vector<std::unique_ptr<THidDevice>> fresh;
    for (THidDevice* d : ScanInterfaces()) fresh.emplace_back(d);
    bool changed = false;

    // Removals, from the last position to the first.
    for (std::size_t i = Devices.size(); i-- > 0;) {
        if (i >= Devices.size()) continue;  // a handler shortened the list
        THidDevice* d = Devices[i];
        const bool present = d->Plugged() && std::any_of(fresh.begin(), fresh.end(), [&](const auto& f) {
                                 return f->DeviceInfo().DevInst == d->DeviceInfo().DevInst;
                             });
        if (present) continue;
        changed = true;
        d->MarkUnplugged();
        if (OnRemoval_) CallInside(d, [&] { OnRemoval_(d); });
        // The handler may have given the device back (deleted it).
        auto it = std::find(Devices.begin(), Devices.end(), d);
        if (it == Devices.end()) continue;
        if (!d->Taken()) {
            Devices.erase(it);
            d->Controller_ = nullptr;
            delete d;
        }
    }

    // Duplicates of devices still listed.
    for (auto& f : fresh) {
        const bool listed = std::any_of(Devices.begin(), Devices.end(), [&](THidDevice* d) {
            return d->Plugged() && d->DeviceInfo().DevInst == f->DeviceInfo().DevInst;
        });
        if (listed) {
            f->Controller_ = nullptr;
            f.reset();
        }
    }

    // Arrivals, in scan order.
    for (auto& f : fresh) {
        if (!f) continue;
        THidDevice* d = f.release();
        Devices.push_back(d);
        changed = true;
        if (OnArrival_) CallInside(d, [&] { OnArrival_(d); });
    }

    if ((changed || !ChangeReported) && OnDeviceChange_) OnDeviceChange_(this);
}

int32_t THidDeviceController::EnumerateDevices() {
    int32_t count = 0;
    const std::size_t n = Devices.size();
    for (std::size_t i = 0; i < n && i < Devices.size(); ++i) {
        THidDevice* d = Devices[i];
        if (!d->Plugged()) continue;
        ++count;
        bool goOn = true;
        const bool haveHandler = static_cast<bool>(OnEnumerate_);
        if (haveHandler) CallInside(d, [&] { goOn = OnEnumerate_(d, static_cast<int32_t>(i)); });
        if (i < Devices.size() && Devices[i] == d && !d->Taken()) {
            d->CloseMain();
            d->CloseRead();
        }
        if (!haveHandler || !goOn) break;
    }
    return count;
}

bool THidDeviceController::TakeByIndex(int32_t i, THidDevice*& HidDev) {
    HidDev = nullptr;
    if (i < 0 || static_cast<std::size_t>(i) >= Devices.size()) return false;
    THidDevice* d = Devices[static_cast<std::size_t>(i)];
    if (d->Taken()) return false;
    d->Taken_ = true;
    HidDev = d;
    d->StartReader();
    return true;
}

void THidDeviceController::SetDevThreadSleepTime(int32_t value) {
    if (value == DevThreadSleepTime_) return;
    for (THidDevice* d : std::vector<THidDevice*>(Devices))
        if (d->ReaderSleepTime() == DevThreadSleepTime_) d->SetReaderSleepTime(value);
    DevThreadSleepTime_ = value;
}

void THidDeviceController::SetOnDeviceChange(const TNotifyEvent& e) {
    if (e == OnDeviceChange_) return;
    OnDeviceChange_ = e;
    DeviceChange();
    ChangeReported = true;
}

void THidDeviceController::SetOnDeviceData(const THidDataEvent& e) {
    if (e == OnDeviceData_) return;
    for (THidDevice* d : std::vector<THidDevice*>(Devices))
        if (d->DataHandler_ == OnDeviceData_) d->SetDataHandler(e);
    OnDeviceData_ = e;
}

void THidDeviceController::SetOnDeviceDataError(const THidDataErrorEvent& e) {
    if (e == OnDeviceDataError_) return;
    for (THidDevice* d : Devices)
        if (d->DataErrorHandler_ == OnDeviceDataError_) d->DataErrorHandler_ = e;
    OnDeviceDataError_ = e;
}

void THidDeviceController::SetOnDeviceUnplug(const THidPlugEvent& e) {
    if (e == OnDeviceUnplug_) return;
    for (THidDevice* d : Devices)
        if (d->UnplugHandler_ == OnDeviceUnplug_) d->UnplugHandler_ = e;
    OnDeviceUnplug_ = e;
}
