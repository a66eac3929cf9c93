// The device-change hook shared by every HID backend.
#include "link/hidbackend.h"

#include <QCoreApplication>
#include <QMetaObject>

struct HidBackend::WatchState {
    std::mutex m;
    std::function<void()> onChange;
    bool queued = false;  // a run of the hook is waiting in the event loop
};

HidBackend::HidBackend() : watch_(std::make_shared<WatchState>()) {}

HidBackend::~HidBackend() {
    std::lock_guard lock(watch_->m);
    watch_->onChange = nullptr;
}

void HidBackend::Watch(std::function<void()> onChange) {
    bool was, now;
    {
        std::lock_guard lock(watch_->m);
        was = static_cast<bool>(watch_->onChange);
        watch_->onChange = std::move(onChange);
        now = static_cast<bool>(watch_->onChange);
    }
    if (was != now) WatchingChanged(now);
}

bool HidBackend::Watching() const {
    std::lock_guard lock(watch_->m);
    return static_cast<bool>(watch_->onChange);
}

void HidBackend::NotifyDeviceChange() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    {
        std::lock_guard lock(watch_->m);
        if (!watch_->onChange || watch_->queued) return;
        watch_->queued = true;
    }
    std::shared_ptr<WatchState> state = watch_;
    QMetaObject::invokeMethod(
        app,
        [state] {
            std::function<void()> f;
            {
                std::lock_guard lock(state->m);
                state->queued = false;
                f = state->onChange;
            }
            if (f) f();
        },
        Qt::QueuedConnection);
}

void HidBackend::WatchingChanged(bool) {}

std::shared_ptr<void> HidBackend::Claim(const std::string&, uint32_t& error) {
    error = 0;
    return std::make_shared<int>(0);
}
