// HID report descriptor parser (short and long items, global state stack).
#include "link/hiddescriptor.h"

#include <algorithm>
#include <map>
#include <vector>

namespace {

enum ItemType : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2 };

enum MainTag : uint8_t { kInput = 0x8, kOutput = 0x9, kCollection = 0xA, kFeature = 0xB };

enum GlobalTag : uint8_t {
    kUsagePage = 0x0,
    kReportSize = 0x7,
    kReportId = 0x8,
    kReportCount = 0x9,
    kPush = 0xA,
    kPop = 0xB,
};

enum LocalTag : uint8_t { kUsage = 0x0 };

struct GlobalState {
    uint32_t usagePage = 0;
    uint32_t reportSize = 0;
    uint32_t reportId = 0;
    uint32_t reportCount = 0;
};

uint16_t LengthOf(const std::map<uint32_t, uint64_t>& bits) {
    uint64_t longest = 0;
    for (const auto& [id, b] : bits) longest = std::max(longest, b);
    if (bits.empty()) return 0;
    const uint64_t bytes = (longest + 7) / 8 + 1;  // data bytes plus the report ID byte
    return static_cast<uint16_t>(std::min<uint64_t>(bytes, 0xFFFF));
}

}  // namespace

bool ParseHidReportDescriptor(const uint8_t* d, std::size_t size, HidDescriptorSummary& summary) {
    summary = HidDescriptorSummary{};
    GlobalState global;
    std::vector<GlobalState> stack;
    std::vector<uint32_t> usages;                         // local usages since the last main item
    std::map<uint32_t, uint64_t> input, output, feature;  // report ID -> bits
    bool topLevelSeen = false;
    uint32_t collections = 0;
    int depth = 0;
    bool ok = size > 0;

    std::size_t i = 0;
    while (i < size) {
        const uint8_t prefix = d[i];
        if (prefix == 0xFE) {  // long item: size, tag, data
            if (i + 2 >= size) {
                ok = false;
                break;
            }
            const std::size_t dataSize = d[i + 1];
            if (i + 3 + dataSize > size) {
                ok = false;
                break;
            }
            i += 3 + dataSize;
            continue;
        }
        const std::size_t dataSize = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (i + 1 + dataSize > size) {
            ok = false;
            break;
        }
        uint32_t value = 0;
        for (std::size_t k = 0; k < dataSize; ++k) value |= uint32_t{d[i + 1 + k]} << (8 * k);
        const uint8_t type = (prefix >> 2) & 3;
        const uint8_t tag = prefix >> 4;
        i += 1 + dataSize;

        if (type == kMain) {
            const uint64_t bits = uint64_t{global.reportSize} * global.reportCount;
            switch (tag) {
                case kInput: input[global.reportId] += bits; break;
                case kOutput: output[global.reportId] += bits; break;
                case kFeature: feature[global.reportId] += bits; break;
                case kCollection:
                    ++collections;
                    if (depth == 0 && !topLevelSeen) {
                        topLevelSeen = true;
                        const uint32_t usage = usages.empty() ? 0 : usages.front();
                        // A 4-byte usage carries its own page in the upper half.
                        summary.caps.UsagePage = static_cast<uint16_t>(usage > 0xFFFF ? usage >> 16 : global.usagePage);
                        summary.caps.Usage = static_cast<uint16_t>(usage & 0xFFFF);
                    }
                    ++depth;
                    break;
                case 0xC: depth = std::max(0, depth - 1); break;  // End Collection
                default: break;
            }
            usages.clear();
        } else if (type == kGlobal) {
            switch (tag) {
                case kUsagePage: global.usagePage = value; break;
                case kReportSize: global.reportSize = value; break;
                case kReportId:
                    global.reportId = value;
                    summary.numbered = true;
                    break;
                case kReportCount: global.reportCount = value; break;
                case kPush: stack.push_back(global); break;
                case kPop:
                    if (!stack.empty()) {
                        global = stack.back();
                        stack.pop_back();
                    }
                    break;
                default: break;
            }
        } else if (type == kLocal) {
            if (tag == kUsage) usages.push_back(value);
        }
    }

    summary.caps.InputReportByteLength = LengthOf(input);
    summary.caps.OutputReportByteLength = LengthOf(output);
    summary.caps.FeatureReportByteLength = LengthOf(feature);
    summary.caps.NumberLinkCollectionNodes = static_cast<uint16_t>(std::min<uint32_t>(collections, 0xFFFF));
    return ok;
}
