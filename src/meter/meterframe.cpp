#include "meter/meterframe.h"

#include <cstdio>

#include "meter/convert.h"

bool IsCompleteFrame(const std::string& frameHex) {
    const size_t n = frameHex.size();
    return (n == kReadingFrameChars || n == kWaveFrameChars) && frameHex[0] == '5' && frameHex[1] == 'A';
}

std::string FrameCharAt(const std::string& frameHex, size_t pos) {
    if (pos == 0 || pos > frameHex.size()) return std::string();
    return std::string(1, frameHex[pos - 1]);
}

std::string FrameLowDigit(const std::string& frameHex, int byteIndex) {
    if (byteIndex < 0) return std::string();
    return FrameCharAt(frameHex, size_t(byteIndex) * 2 + 2);
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

namespace {
std::string ByteText(const std::string& frameHex, int byteIndex) {
    if (byteIndex < 0) return std::string();
    const size_t start = size_t(byteIndex) * 2;
    if (start >= frameHex.size()) return std::string();
    return frameHex.substr(start, 2);
}
}  // namespace

bool TryFrameByte(const std::string& frameHex, int byteIndex, int& value) {
    const std::string text = ByteText(frameHex, byteIndex);
    if (text.empty()) return false;
    int v = 0;
    for (char c : text) {
        const int d = HexDigitValue(c);
        if (d < 0) return false;
        v = v * 16 + d;
    }
    value = v;
    return true;
}

int FrameByte(const std::string& frameHex, int byteIndex) {
    int v = 0;
    if (!TryFrameByte(frameHex, byteIndex, v))
        throw ConvertError("'$" + ByteText(frameHex, byteIndex) + "' is not a valid integer value");
    return v;
}

char FrameChar(const std::string& frameHex, int byteIndex) {
    return static_cast<char>(static_cast<unsigned char>(FrameByte(frameHex, byteIndex)));
}

int SignedFrameByte(int value) { return value <= 128 ? value : value - 256; }

std::string BytesToHex(const uint8_t* data, size_t size) {
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) AppendHexByte(out, data[i]);
    return out;
}

std::string BytesToHex(const std::vector<uint8_t>& bytes) { return BytesToHex(bytes.data(), bytes.size()); }

bool HexToBytes(const std::string& hex, std::vector<uint8_t>& bytes) {
    if (hex.size() % 2 != 0) return false;
    std::vector<uint8_t> out(hex.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) {
        const int hi = HexDigitValue(hex[2 * i]);
        const int lo = HexDigitValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = uint8_t(hi * 16 + lo);
    }
    bytes = std::move(out);
    return true;
}

std::string EncodeFrame(const FrameContent& content) {
    std::vector<uint8_t> bytes;
    HexToBytes(kTestFrameHex, bytes);
    auto setLowDigit = [&bytes](int k, char digit) {
        const int d = HexDigitValue(digit);
        bytes[size_t(k)] = uint8_t((bytes[size_t(k)] & 0xF0) | (d < 0 ? 0 : d));
    };
    setLowDigit(6, content.modeDigit);
    setLowDigit(10, content.couplingDigit);
    bytes[12] = content.offset;
    bytes[19] = content.autoByte;
    bytes[21] = uint8_t(content.sign);
    for (int i = 0; i < 5; ++i)
        bytes[size_t(22 + i)] = i < int(content.display.size()) ? uint8_t(content.display[size_t(i)]) : uint8_t(' ');
    bytes[27] = uint8_t(content.prefix);
    std::string hex = BytesToHex(bytes);
    if (!content.wave.empty()) {
        std::vector<uint8_t> wave = content.wave;
        wave.resize(kWaveFrameBytes - kReadingFrameBytes, 0);
        hex += BytesToHex(wave);
    }
    return hex;
}
