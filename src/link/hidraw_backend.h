#pragma once
// The system's HID services on Linux: hidraw nodes through hidapi, report descriptors from
// the hidraw driver, device changes from a udev monitor on the hidraw subsystem (delivered on
// the GUI thread).
#include <memory>

#include "link/hidbackend.h"

// The udev rule file that gives the user read and write access to the cable's hidraw node
// (installed with the program in lib/udev/rules.d).
inline constexpr const char* kHidrawUdevRule = "70-ms42k-cable.rules";

std::shared_ptr<HidBackend> MakeHidrawBackend();
