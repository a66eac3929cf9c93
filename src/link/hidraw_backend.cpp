// The system's HID services on Linux: hidapi over hidraw, report descriptors from the hidraw
// driver (or sysfs when the node may not be opened), device changes from udev.
#include "link/hidraw_backend.h"

#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <map>
#include <mutex>
#include <optional>

#include "link/hiddescriptor.h"

namespace {

// What a scan tells about an interface without opening it (from sysfs).
struct InterfaceFacts {
    uint16_t vendor = 0;
    uint16_t product = 0;
    uint16_t release = 0;
    std::optional<std::wstring> productString;
    std::optional<std::wstring> serialString;
};

// Stores a wide (UTF-32) text as zero-terminated UTF-16 in buffer (units units).
void StoreWide(const wchar_t* text, char16_t* buffer, std::size_t units) {
    if (units == 0) return;
    std::size_t n = 0;
    for (const wchar_t* p = text; *p != 0; ++p) {
        const uint32_t c = static_cast<uint32_t>(*p);
        if (c > 0xFFFF) {
            if (n + 2 >= units) break;
            const uint32_t v = c - 0x10000;
            buffer[n++] = static_cast<char16_t>(0xD800 + (v >> 10));
            buffer[n++] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
        } else {
            if (n + 1 >= units) break;
            buffer[n++] = static_cast<char16_t>(c);
        }
    }
    buffer[n] = 0;
}

std::string SysName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The report descriptor: from the driver through the node, or from sysfs.
bool ReadDescriptor(const std::string& path, HidDescriptorSummary& summary) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        int size = 0;
        hidraw_report_descriptor desc{};
        const bool got = ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0 && size > 0 && size <= HID_MAX_DESCRIPTOR_SIZE &&
                         (desc.size = static_cast<uint32_t>(size), ioctl(fd, HIDIOCGRDESC, &desc) == 0);
        ::close(fd);
        if (got) return ParseHidReportDescriptor(desc.value, desc.size, summary);
    }
    const std::string sysfs = "/sys/class/hidraw/" + SysName(path) + "/device/report_descriptor";
    if (std::FILE* f = std::fopen(sysfs.c_str(), "rb")) {
        uint8_t bytes[HID_MAX_DESCRIPTOR_SIZE];
        const std::size_t n = std::fread(bytes, 1, sizeof bytes, f);
        std::fclose(f);
        if (n > 0) return ParseHidReportDescriptor(bytes, n, summary);
    }
    return false;
}

class HidrawHandle : public HidHandle {
public:
    HidrawHandle(hid_device* dev, std::string path, HidAccess access, std::optional<InterfaceFacts> facts,
                 bool numbered)
        : dev_(dev), path_(std::move(path)), access_(access), facts_(std::move(facts)), numbered_(numbered) {}
    ~HidrawHandle() override {
        if (dev_) hid_close(dev_);
    }

    bool GetAttributes(HIDD_ATTRIBUTES& attributes) override {
        if (closed_ || !facts_) return false;
        attributes.Size = 12;
        attributes.VendorID = facts_->vendor;
        attributes.ProductID = facts_->product;
        attributes.VersionNumber = facts_->release;
        return true;
    }
    bool GetCaps(HIDP_CAPS& caps) override {
        if (closed_) return false;
        HidDescriptorSummary summary;
        if (!ReadDescriptor(path_, summary)) return false;
        caps = summary.caps;
        return true;
    }
    bool GetProductString(char16_t* buffer, std::size_t units) override {
        return Text(&hid_get_product_string, facts_ ? facts_->productString : std::nullopt, buffer, units);
    }
    bool GetSerialNumberString(char16_t* buffer, std::size_t units) override {
        return Text(&hid_get_serial_number_string, facts_ ? facts_->serialString : std::nullopt, buffer, units);
    }
    bool GetIndexedString(int index, char16_t* buffer, std::size_t units) override {
        if (closed_ || units == 0) return false;
        if (dev_) {
            std::wstring w(units + 1, L'\0');
            if (hid_get_indexed_string(dev_, index, w.data(), units) == 0) {
                StoreWide(w.c_str(), buffer, units);
                return true;
            }
        }
        // hidraw cannot ask a device for string descriptor 0: answer the language list of
        // practically every USB device (US English), which no real serial number equals.
        if (index == 0 && units >= 2) {
            buffer[0] = 0x0409;
            buffer[1] = 0;
            return true;
        }
        return false;
    }
    bool SetFeature(const uint8_t* report, std::size_t length) override {
        if (closed_ || !dev_ || access_ != HidAccess::ReadWrite) return false;
        return hid_send_feature_report(dev_, report, length) >= 0;
    }
    bool Write(const uint8_t* report, std::size_t length, uint32_t& written) override {
        written = 0;
        if (closed_ || !dev_ || access_ != HidAccess::ReadWrite) return false;
        const int n = hid_write(dev_, report, length);
        if (n < 0) return false;
        written = static_cast<uint32_t>(n);
        return true;
    }
    HidReadResult Read(uint8_t* buffer, std::size_t length, int32_t timeoutMs) override {
        if (closed_) return {HidReadStatus::Aborted, 0, 0};
        if (!dev_) return {HidReadStatus::Failed, 0, EBADF};
        errno = 0;
        int n;
        if (numbered_ || length == 0) {
            n = hid_read_timeout(dev_, buffer, length, timeoutMs);
        } else {
            // Reports without an ID arrive without one: the buffer gets ID 0 in front.
            buffer[0] = 0;
            n = hid_read_timeout(dev_, buffer + 1, length - 1, timeoutMs);
            if (n > 0) ++n;
        }
        const int error = errno;
        if (closed_) return {HidReadStatus::Aborted, 0, 0};
        if (n < 0) return {HidReadStatus::Failed, 0, static_cast<uint32_t>(error ? error : EIO)};
        if (n == 0) return {HidReadStatus::Timeout, 0, 0};
        return {HidReadStatus::Report, static_cast<uint32_t>(n), 0};
    }
    // hid_read_timeout leaves no read pending behind it.
    void CancelRead() override {}
    void Close() override { closed_ = true; }

private:
    using StringQuery = int (*)(hid_device*, wchar_t*, size_t);
    bool Text(StringQuery query, const std::optional<std::wstring>& fallback, char16_t* buffer, std::size_t units) {
        if (closed_ || units == 0) return false;
        if (dev_) {
            std::wstring w(units + 1, L'\0');
            if (query(dev_, w.data(), units) != 0) return false;
            StoreWide(w.c_str(), buffer, units);
            return true;
        }
        if (!fallback) return false;
        StoreWide(fallback->c_str(), buffer, units);
        return true;
    }

    hid_device* dev_;
    const std::string path_;
    const HidAccess access_;
    const std::optional<InterfaceFacts> facts_;
    const bool numbered_;
    std::atomic<bool> closed_{false};
};

class HidrawBackend : public HidBackend {
public:
    HidrawBackend() : initOk_(hid_init() == 0), udev_(udev_new()) {}
    ~HidrawBackend() override {
        StopMonitor();
        if (udev_) udev_unref(udev_);
    }

    bool Available() const override { return initOk_; }

    std::vector<HidInterfaceInfo> Enumerate() override {
        std::lock_guard lock(m_);
        return Scan();
    }

    std::shared_ptr<HidHandle> Open(const std::string& path, HidAccess access, uint32_t& error) override {
        std::lock_guard lock(m_);
        error = 0;
        hid_device* dev = nullptr;
        bool numbered = false;
        if (access == HidAccess::None) {
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0) {
                error = static_cast<uint32_t>(errno);
                return nullptr;
            }
            if (!S_ISCHR(st.st_mode)) {
                error = ENODEV;
                return nullptr;
            }
        } else {
            dev = hid_open_path(path.c_str());
            if (!dev) {
                // Learn why (hidapi does not say): try the same opening ourselves.
                const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
                if (fd >= 0) {
                    ::close(fd);
                    error = EIO;
                } else {
                    error = static_cast<uint32_t>(errno);
                }
                return nullptr;
            }
            if (access == HidAccess::Read) {
                HidDescriptorSummary summary;
                ReadDescriptor(path, summary);
                numbered = summary.numbered;
            }
        }
        auto it = facts_.find(path);
        if (it == facts_.end()) {
            Scan();
            it = facts_.find(path);
        }
        std::optional<InterfaceFacts> facts;
        if (it != facts_.end()) facts = it->second;
        return std::make_shared<HidrawHandle>(dev, path, access, std::move(facts), numbered);
    }

    // An exclusive lock on the node, held by an open file of it: a second program (the
    // window and the logger) gets EBUSY.
    std::shared_ptr<void> Claim(const std::string& path, uint32_t& error) override {
        error = 0;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            error = static_cast<uint32_t>(errno);
            return nullptr;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            error = errno == EWOULDBLOCK ? EBUSY : static_cast<uint32_t>(errno);
            ::close(fd);
            return nullptr;
        }
        return std::shared_ptr<void>(new int(fd), [](void* p) {
            const int* f = static_cast<int*>(p);
            ::close(*f);
            delete f;
        });
    }

protected:
    void WatchingChanged(bool on) override {
        if (on)
            StartMonitor();
        else
            StopMonitor();
    }

private:
    // Under m_.
    std::vector<HidInterfaceInfo> Scan() {
        std::vector<HidInterfaceInfo> list;
        if (!initOk_) return list;
        facts_.clear();
        hid_device_info* all = hid_enumerate(0, 0);
        for (hid_device_info* i = all; i; i = i->next) {
            if (!i->path) continue;
            const std::string path = i->path;
            if (facts_.count(path)) continue;  // one entry per top-level collection
            InterfaceFacts f;
            f.vendor = i->vendor_id;
            f.product = i->product_id;
            f.release = i->release_number;
            if (i->product_string) f.productString = std::wstring(i->product_string);
            if (i->serial_number) f.serialString = std::wstring(i->serial_number);
            facts_[path] = f;
            list.push_back({path, Instance(path)});
        }
        hid_free_enumeration(all);
        return list;
    }

    // The HID device's sysfs path names the interface for as long as it is present; its
    // kernel-wide sequence number (".0005") is never reused while the system runs.
    std::string Instance(const std::string& path) {
        std::string id;
        if (udev_) {
            if (udev_device* dev = udev_device_new_from_subsystem_sysname(udev_, "hidraw", SysName(path).c_str())) {
                if (udev_device* hid = udev_device_get_parent_with_subsystem_devtype(dev, "hid", nullptr))
                    if (const char* sp = udev_device_get_syspath(hid)) id = sp;
                if (id.empty())
                    if (const char* sp = udev_device_get_syspath(dev)) id = sp;
                udev_device_unref(dev);
            }
        }
        if (id.empty()) {
            struct stat st {};
            id = ::stat(path.c_str(), &st) == 0 ? std::to_string(st.st_rdev) : std::string();
        }
        return id + "|" + path;
    }

    // Device changes: udevd's events where udevd runs; elsewhere the kernel's own events and,
    // as they may not reach this process either (a container), a rescan every second that
    // reports a change when the list of nodes differs.
    void StartMonitor() {
        if (monitor_ || rescan_ || !udev_) return;
        const bool udevd = ::access("/run/udev/control", F_OK) == 0;
        monitor_ = OpenMonitor(udevd ? "udev" : "kernel");
        if (monitor_) {
            const int fd = udev_monitor_get_fd(monitor_);
            notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read);
            QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] {
                bool any = false;
                while (udev_device* dev = udev_monitor_receive_device(monitor_)) {
                    udev_device_unref(dev);
                    any = true;
                }
                if (any) NotifyDeviceChange();
            });
        }
        if (!udevd || !monitor_) {
            {
                std::lock_guard lock(m_);
                lastNodes_ = NodeList();
            }
            rescan_ = new QTimer;
            rescan_->setInterval(kRescanIntervalMs);
            QObject::connect(rescan_, &QTimer::timeout, rescan_, [this] {
                std::string now;
                {
                    std::lock_guard lock(m_);
                    now = NodeList();
                    if (now == lastNodes_) return;
                    lastNodes_ = now;
                }
                NotifyDeviceChange();
            });
            rescan_->start();
        }
    }

    udev_monitor* OpenMonitor(const char* source) {
        udev_monitor* m = udev_monitor_new_from_netlink(udev_, source);
        if (!m) return nullptr;
        if (udev_monitor_filter_add_match_subsystem_devtype(m, "hidraw", nullptr) < 0 ||
            udev_monitor_enable_receiving(m) < 0) {
            udev_monitor_unref(m);
            return nullptr;
        }
        return m;
    }

    // Under m_: the nodes present now, with their identities.
    std::string NodeList() {
        std::string list;
        for (const HidInterfaceInfo& i : Scan()) list += i.instance + "\n";
        return list;
    }

    void StopMonitor() {
        delete notifier_;
        notifier_ = nullptr;
        delete rescan_;
        rescan_ = nullptr;
        if (monitor_) udev_monitor_unref(monitor_);
        monitor_ = nullptr;
    }

    static constexpr int kRescanIntervalMs = 1000;
    const bool initOk_;
    udev* udev_;
    udev_monitor* monitor_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* rescan_ = nullptr;
    std::string lastNodes_;
    std::mutex m_;  // hidapi openings and the facts cache (readers open too)
    std::map<std::string, InterfaceFacts> facts_;
};

}  // namespace

std::shared_ptr<HidBackend> MakeHidrawBackend() { return std::make_shared<HidrawBackend>(); }
