// Scriptable in-process HID backend.
#include "link/hidsim_backend.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {
void StoreString(const std::u16string& text, char16_t* buffer, std::size_t units) {
    const std::size_t n = std::min(text.size(), units);
    std::copy_n(text.data(), n, buffer);
    if (n < units && (text.empty() || text.back() != u'\0')) buffer[n] = 0;
}
}  // namespace

class HidSimBackend::Handle : public HidHandle {
public:
    Handle(HidSimBackend* backend, std::shared_ptr<Device> device, HidAccess access)
        : backend_(backend), device_(std::move(device)), access_(access) {}
    ~Handle() override { Close(); }

    bool GetAttributes(HIDD_ATTRIBUTES& attributes) override {
        std::lock_guard lock(backend_->m_);
        if (!Usable() || !device_->profile.identifiable) return false;
        attributes = device_->profile.attributes;
        return true;
    }
    bool GetCaps(HIDP_CAPS& caps) override {
        std::lock_guard lock(backend_->m_);
        if (!Usable() || !device_->profile.caps) return false;
        caps = *device_->profile.caps;
        return true;
    }
    bool GetProductString(char16_t* buffer, std::size_t units) override {
        return Text(device_->profile.product, buffer, units);
    }
    bool GetSerialNumberString(char16_t* buffer, std::size_t units) override {
        return Text(device_->profile.serial, buffer, units);
    }
    bool GetIndexedString(int index, char16_t* buffer, std::size_t units) override {
        if (index != 0) return false;
        return Text(device_->profile.languages, buffer, units);
    }
    bool SetFeature(const uint8_t* report, std::size_t length) override {
        std::lock_guard lock(backend_->m_);
        if (!Usable() || access_ != HidAccess::ReadWrite || !device_->profile.acceptsFeature) return false;
        device_->features.emplace_back(report, report + length);
        return true;
    }
    bool Write(const uint8_t* report, std::size_t length, uint32_t& written) override {
        std::lock_guard lock(backend_->m_);
        written = 0;
        if (!Usable() || access_ != HidAccess::ReadWrite || !device_->profile.acceptsWrite) return false;
        device_->writes.emplace_back(report, report + length);
        written = static_cast<uint32_t>(length);
        return true;
    }
    HidReadResult Read(uint8_t* buffer, std::size_t length, int32_t timeoutMs) override {
        std::unique_lock lock(backend_->m_);
        ++device_->readsStarted;
        if (closed_) return {HidReadStatus::Aborted, 0, 0};
        if (access_ == HidAccess::None) return {HidReadStatus::Failed, 0, EBADF};
        if (!device_->present) return {HidReadStatus::Failed, 0, ENODEV};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        const bool ready = backend_->cv_.wait_until(
            lock, deadline, [&] { return closed_ || !device_->present || !device_->input.empty(); });
        if (!ready) return {HidReadStatus::Timeout, 0, 0};
        if (closed_) return {HidReadStatus::Aborted, 0, 0};
        if (!device_->present) return {HidReadStatus::Failed, 0, ENODEV};
        Input in = std::move(device_->input.front());
        device_->input.pop_front();
        if (device_->staleInput > 0) --device_->staleInput;
        if (in.isError) return {HidReadStatus::Failed, 0, in.error};
        const std::size_t n = std::min(in.report.size(), length);
        std::copy_n(in.report.data(), n, buffer);
        return {HidReadStatus::Report, static_cast<uint32_t>(n), 0};
    }
    void CancelRead() override {
        std::lock_guard lock(backend_->m_);
        ++device_->cancels;
    }
    void Close() override {
        {
            std::lock_guard lock(backend_->m_);
            if (closed_) return;
            closed_ = true;
            --device_->openHandles;
            // As hidraw drops the reports queued for a file that is closed, the input not read
            // through a closed reading handle is not seen by the next one (it stays countable
            // as pending until that one opens).
            if (access_ == HidAccess::Read) device_->staleInput = device_->input.size();
        }
        backend_->cv_.notify_all();
    }

private:
    // Under the backend's lock.
    bool Usable() const { return !closed_ && device_->present; }
    bool Text(const std::optional<std::u16string>& text, char16_t* buffer, std::size_t units) {
        std::lock_guard lock(backend_->m_);
        if (!Usable() || !text) return false;
        StoreString(*text, buffer, units);
        return true;
    }

    HidSimBackend* backend_;
    std::shared_ptr<Device> device_;
    HidAccess access_;
    bool closed_ = false;
};

HidSimBackend::~HidSimBackend() = default;

bool HidSimBackend::Available() const {
    std::lock_guard lock(m_);
    return available_;
}

void HidSimBackend::SetAvailable(bool available) {
    std::lock_guard lock(m_);
    available_ = available;
}

std::vector<HidInterfaceInfo> HidSimBackend::Enumerate() {
    std::lock_guard lock(m_);
    std::vector<HidInterfaceInfo> list;
    if (!available_) return list;
    for (const auto& d : devices_) list.push_back({d->path, d->instance});
    return list;
}

std::shared_ptr<HidHandle> HidSimBackend::Open(const std::string& path, HidAccess access, uint32_t& error) {
    std::lock_guard lock(m_);
    auto it = all_.find(path);
    if (it == all_.end() || !it->second->present || !it->second->profile.openable) {
        error = ENOENT;
        return nullptr;
    }
    Device& d = *it->second;
    ++d.openings[access];
    if (access != HidAccess::None && !d.profile.writable) {
        error = EACCES;
        return nullptr;
    }
    ++d.openHandles;
    if (access == HidAccess::Read) {
        d.input.erase(d.input.begin(), d.input.begin() + std::ptrdiff_t(std::min(d.staleInput, d.input.size())));
        d.staleInput = 0;
    }
    return std::make_shared<Handle>(this, it->second, access);
}

std::string HidSimBackend::Plug(const HidSimDeviceProfile& profile, bool announce) {
    std::string path;
    {
        std::lock_guard lock(m_);
        ++next_;
        auto d = std::make_shared<Device>();
        d->path = path = "sim:hid" + std::to_string(next_);
        d->instance = "sim-instance-" + std::to_string(next_);
        d->profile = profile;
        devices_.push_back(d);
        all_[path] = d;
    }
    if (announce) NotifyDeviceChange();
    return path;
}

void HidSimBackend::Unplug(const std::string& path, bool announce) {
    {
        std::lock_guard lock(m_);
        auto it = all_.find(path);
        if (it == all_.end()) return;
        it->second->present = false;
        devices_.erase(std::remove(devices_.begin(), devices_.end(), it->second), devices_.end());
    }
    cv_.notify_all();
    if (announce) NotifyDeviceChange();
}

void HidSimBackend::Modify(const std::string& path, const HidSimDeviceProfile& profile) {
    std::lock_guard lock(m_);
    if (auto it = all_.find(path); it != all_.end()) it->second->profile = profile;
}

void HidSimBackend::PushReport(const std::string& path, std::vector<uint8_t> report) {
    {
        std::lock_guard lock(m_);
        auto it = all_.find(path);
        if (it == all_.end()) return;
        it->second->input.push_back(Input{false, 0, std::move(report)});
    }
    cv_.notify_all();
}

void HidSimBackend::PushReadError(const std::string& path, uint32_t error) {
    {
        std::lock_guard lock(m_);
        auto it = all_.find(path);
        if (it == all_.end()) return;
        it->second->input.push_back(Input{true, error, {}});
    }
    cv_.notify_all();
}

std::shared_ptr<HidSimBackend::Device> HidSimBackend::Find(const std::string& path) const {
    auto it = all_.find(path);
    return it == all_.end() ? nullptr : it->second;
}

std::vector<std::vector<uint8_t>> HidSimBackend::Features(const std::string& path) const {
    std::lock_guard lock(m_);
    auto d = Find(path);
    return d ? d->features : std::vector<std::vector<uint8_t>>{};
}

std::vector<std::vector<uint8_t>> HidSimBackend::Writes(const std::string& path) const {
    std::lock_guard lock(m_);
    auto d = Find(path);
    return d ? d->writes : std::vector<std::vector<uint8_t>>{};
}

int HidSimBackend::Openings(const std::string& path, HidAccess access) const {
    std::lock_guard lock(m_);
    auto d = Find(path);
    if (!d) return 0;
    auto it = d->openings.find(access);
    return it == d->openings.end() ? 0 : it->second;
}

int HidSimBackend::OpenHandles(const std::string& path) const {
    std::lock_guard lock(m_);
    auto d = Find(path);
    return d ? d->openHandles : 0;
}

int HidSimBackend::Cancels(const std::string& path) const {
    std::lock_guard lock(m_);
    auto d = Find(path);
    return d ? d->cancels : 0;
}

std::size_t HidSimBackend::PendingInput(const std::string& path) const {
    std::lock_guard lock(m_);
    auto d = Find(path);
    return d ? d->input.size() : 0;
}

int HidSimBackend::ReadsStarted(const std::string& path) const {
    std::lock_guard lock(m_);
    auto d = Find(path);
    return d ? d->readsStarted : 0;
}
