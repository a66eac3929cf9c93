// libFuzzer target over the HID report-descriptor parser: any bytes parse or are refused,
// the same way twice, and a descriptor's report lengths never exceed what its items can
// describe (a report of at most 0xFFFF bits per item, plus the report ID byte).
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
