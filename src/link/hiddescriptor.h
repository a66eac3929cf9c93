#pragma once
// A small parser of HID report descriptors: the report lengths and the top-level usage of a
// device, as the controller's QueryCaps reports them.
#include <cstddef>
#include <cstdint>

#include "link/hidbackend.h"

struct HidDescriptorSummary {
    HIDP_CAPS caps;
    // The device numbers its reports (a Report ID item occurs): every report on the wire
    // starts with its ID. Otherwise the reports carry no ID byte and the controller's
    // buffers use ID 0.
    bool numbered = false;
};

// Parses descriptor (size bytes). Report lengths are those of the largest report of each
// kind, in bytes, plus the report ID byte; 0 when the device has no report of that kind.
// false when the descriptor is malformed (an item runs past its end) or empty; summary then
// holds what was understood before the fault.
bool ParseHidReportDescriptor(const uint8_t* descriptor, std::size_t size, HidDescriptorSummary& summary);
