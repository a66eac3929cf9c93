#pragma once
// Frames and the cable's input reports that carry them, as the tests build them: the built-in
// test frame, a frame text as bytes, and the reports of one burst.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "meter/meterframe.h"

namespace testframes {

// The built-in test frame: a complete 41-byte reading frame (00.66 V DC, manual range).
inline const std::string kTestFrame = kTestFrameHex;

// A hex text as bytes; a text that is not whole bytes of hex digits is a fault of the test.
inline std::vector<uint8_t> FrameBytes(const std::string& hex) {
    std::vector<uint8_t> bytes;
    if (!HexToBytes(hex, bytes)) throw std::invalid_argument("not a hex text: " + hex);
    return bytes;
}

// The cable's input reports (report ID 0 first) that carry bytes [from, to) of `bytes` as one
// burst: at most 7 meter bytes per report after the count byte 0xF0 | n, then the report
// without data (count 0xF0) that ends the burst. Each report is padded with zero bytes to
// `padTo` bytes (0: not padded).
inline std::vector<std::vector<uint8_t>> BurstReports(const std::vector<uint8_t>& bytes, size_t from, size_t to,
                                                      size_t padTo = 0) {
    std::vector<std::vector<uint8_t>> reports;
    auto pad = [padTo](std::vector<uint8_t> r) {
        if (r.size() < padTo) r.resize(padTo, 0);
        return r;
    };
    for (size_t i = from; i < to; i += 7) {
        const size_t n = std::min<size_t>(7, to - i);
        std::vector<uint8_t> r{0x00, uint8_t(0xF0 | n)};
        r.insert(r.end(), bytes.begin() + long(i), bytes.begin() + long(i + n));
        reports.push_back(pad(std::move(r)));
    }
    reports.push_back(pad({0x00, 0xF0}));
    return reports;
}

}  // namespace testframes
