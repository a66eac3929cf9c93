#pragma once
// Shared pieces of the HID controller tests: an event recorder whose methods are bound as the
// controller's and devices' handlers, and a fixture around the scriptable backend.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "link/hidcontroller.h"
#include "link/hidsim_backend.h"

namespace hidtest {

struct Report {
    uint8_t id;
    std::vector<uint8_t> data;
    bool operator==(const Report&) const = default;
};

// Records every event it receives, in order.
struct Recorder {
    std::vector<std::string> log;
    std::vector<Report> reports;
    std::vector<uint32_t> errors;
    std::vector<THidDevice*> unplugged;
    QObject* changeSender = nullptr;
    int changes = 0;
    int otherChanges = 0;
    bool enumerateGoOn = true;
    // Flags seen while the callbacks ran.
    std::vector<bool> accessibleInCallback;

    void Arrival(THidDevice* d) {
        log.push_back("arrival " + d->DeviceInfo().DevicePath);
        accessibleInCallback.push_back(d->Accessible());
    }
    void Removal(THidDevice* d) {
        log.push_back("removal " + d->DeviceInfo().DevicePath);
        accessibleInCallback.push_back(d->Accessible());
    }
    void Change(QObject* sender) {
        log.push_back("change");
        changeSender = sender;
        ++changes;
    }
    void OtherChange(QObject*) { ++otherChanges; }
    bool Enumerate(THidDevice* d, int32_t idx) {
        log.push_back("enumerate " + std::to_string(idx) + " " + d->DeviceInfo().DevicePath);
        accessibleInCallback.push_back(d->Accessible());
        return enumerateGoOn;
    }
    void Data(THidDevice*, uint8_t id, const uint8_t* data, uint16_t size) {
        reports.push_back({id, std::vector<uint8_t>(data, data + size)});
    }
    void OtherData(THidDevice*, uint8_t, const uint8_t*, uint16_t) {}
    void Error(THidDevice*, uint32_t error) { errors.push_back(error); }
    void OtherError(THidDevice*, uint32_t) {}
    void Unplug(THidDevice* d) { unplugged.push_back(d); }
    void OtherUnplug(THidDevice*) {}
};

// Runs the event loop until pred holds or a generous safety limit passes; returns pred().
template <class Pred>
bool PumpUntil(Pred pred, int limitMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// Runs the event loop for a while (to let something that must not happen show itself).
inline void Pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

inline HidSimDeviceProfile Profile(const std::u16string& product) {
    HidSimDeviceProfile s;
    s.product = product;
    return s;
}

class HidFixture : public ::testing::Test {
protected:
    void TearDown() override {
        ctl.reset();
        QCoreApplication::processEvents();
    }
    // Plugs interfaces present before the controller exists (no notification).
    std::string PlugQuiet(const HidSimDeviceProfile& profile = {}) { return sim->Plug(profile, false); }
    void MakeController() { ctl = std::make_unique<THidDeviceController>(nullptr, sim); }
    std::vector<std::string> ListedPaths() const {
        std::vector<std::string> paths;
        for (int32_t i = 0; i < ctl->DeviceCount(); ++i) paths.push_back(ctl->Device(i)->DeviceInfo().DevicePath);
        return paths;
    }
    THidDevice* Take(int32_t i) {
        THidDevice* d = nullptr;
        EXPECT_TRUE(ctl->TakeByIndex(i, d));
        return d;
    }

    std::shared_ptr<HidSimBackend> sim = std::make_shared<HidSimBackend>();
    std::unique_ptr<THidDeviceController> ctl;
    Recorder rec;
};

}  // namespace hidtest
