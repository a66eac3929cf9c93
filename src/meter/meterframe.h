#pragma once
// The meter's frame as the program holds it: upper-case hexadecimal text, two characters per
// byte, no separators, character positions counted from 1. A reading frame has 41 bytes
// (82 characters); a reading-and-waveform frame has 361 bytes (722 characters). Both begin
// with the byte 0x5A.
//
// Plain C++: used by the window's decoder, the headless logger, the links and the tests.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Character counts of the two frame kinds.
constexpr size_t kReadingFrameChars = 82;
constexpr size_t kWaveFrameChars = 722;
constexpr size_t kReadingFrameBytes = 41;
constexpr size_t kWaveFrameBytes = 361;
// Waveform: 160 sample pairs in bytes 41..360.
constexpr int kWaveSamples = 160;
constexpr int kWaveFirstByte = 41;

// The built-in test frame (41 bytes): reading 00.66, volt, DC, manual range.
inline constexpr char kTestFrameHex[] =
    "5A0003050559800101010006001000000B000400002030302E363620562000322E3031336B487A002E";

// The upper-case hexadecimal digits, by value.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// The value 0..15 of a hexadecimal digit (either case); -1 for any other character.
int HexDigitValue(char c);

// Appends the byte as two upper-case hexadecimal digits.
inline void AppendHexByte(std::string& out, uint8_t byte) {
    out.push_back(kHexDigits[byte >> 4]);
    out.push_back(kHexDigits[byte & 0x0F]);
}

// A frame is complete, and is decoded, when the text is exactly 82 or 722 characters long
// and begins with "5A".
bool IsCompleteFrame(const std::string& frameHex);

// The 1-based character at position pos as a text of one character, or an empty text when
// the frame is shorter.
std::string FrameCharAt(const std::string& frameHex, size_t pos);

// Low hex digit of byte k (character 2k+2): a text of one character, empty when missing.
std::string FrameLowDigit(const std::string& frameHex, int byteIndex);

// Value 0..255 of byte k (characters 2k+1, 2k+2 read as a hexadecimal number). A frame that
// ends inside the byte yields what is there (one digit); no digit at all or a character that is
// not a hexadecimal digit raises ConvertError.
int FrameByte(const std::string& frameHex, int byteIndex);
// As FrameByte, false instead of raising.
bool TryFrameByte(const std::string& frameHex, int byteIndex, int& value);

// The character whose code is byte k.
char FrameChar(const std::string& frameHex, int byteIndex);

// The meter's signed byte rule: 0..128 stand for themselves (0x80 is +128), 129..255 for v-256.
int SignedFrameByte(int value);

// Bytes as upper-case hex text, two characters per byte ("%.2X" each).
std::string BytesToHex(const uint8_t* data, size_t size);
std::string BytesToHex(const std::vector<uint8_t>& bytes);

// Hex text back to bytes; false when the text has an odd length or a non-hex character.
bool HexToBytes(const std::string& hex, std::vector<uint8_t>& bytes);

// What a meter puts on its display, turned into a frame (for tests, the simulated meter and
// the benchmarks). Fields the program does not read keep the bytes of the built-in test frame.
struct FrameContent {
    char modeDigit = '0';           // byte 6, low hex digit: measuring mode '0'..'9' ('A'..'F' is spoilt)
    char couplingDigit = '0';       // byte 10, low hex digit: '0' DC, other AC; in mode 2 '1' = duty
    uint8_t autoByte = 0;           // byte 19: exactly 1 = auto range
    char sign = ' ';                // byte 21: '-' negative, other positive
    std::string display = "00.66";  // bytes 22..26: digits, point, 'L' for overload (padded with blanks)
    char prefix = ' ';              // byte 27: 'm', 'k', 'M', 'n', 'u' or other
    uint8_t offset = 0;             // byte 12: waveform offset (signed byte)
    std::vector<uint8_t> wave;      // 320 waveform bytes (160 pairs) make a 361-byte frame; empty: 41 bytes
};

// The frame's hex text. A wave of other than 0 or 320 bytes is cut or padded with zero bytes to 320.
std::string EncodeFrame(const FrameContent& content);
