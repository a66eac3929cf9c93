#pragma once
// HID device controller (to be filled in).
#include <QObject>

class HidBackend {
public:
    virtual ~HidBackend() = default;
};

class THidDevice {};

class THidDeviceController : public QObject {
    Q_OBJECT
public:
    explicit THidDeviceController(QObject* parent = nullptr) : QObject(parent) {}
};
