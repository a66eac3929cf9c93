// libFuzzer target over the HID report-descriptor parser (a device's descriptor is untrusted
// input): any bytes parse or are refused without reading past their end, the same way twice,
// and an empty descriptor is refused.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/hiddescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HidDescriptorSummary a, b;
    const bool okA = ParseHidReportDescriptor(data, size, a);
    const bool okB = ParseHidReportDescriptor(data, size, b);
    if (okA != okB || std::memcmp(&a.caps, &b.caps, sizeof a.caps) != 0 || a.numbered != b.numbered) {
        std::fprintf(stderr, "hid descriptor: two parses of the same bytes differ\n");
        std::abort();
    }
    if (okA && size == 0) {
        std::fprintf(stderr, "hid descriptor: an empty descriptor was accepted\n");
        std::abort();
    }
    return 0;
}
