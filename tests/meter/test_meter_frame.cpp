// Frame text helpers: completion rule, byte access, the signed byte rule, the encoder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "meter/convert.h"
#include "meter/meterframe.h"

namespace {

std::string Repeat(const std::string& s, size_t totalChars) {
    std::string out;
    while (out.size() < totalChars) out += s;
    out.resize(totalChars);
    return out;
}

TEST(FrameCompletion, OnlyExactLengthsBeginningWith5AAreComplete) {
    const std::string wave = std::string(kTestFrameHex) + std::string(640, '0');
    struct Case {
        const char* name;
        std::string text;
        bool complete;
    };
    const Case cases[] = {
        {"test frame, 82", kTestFrameHex, true},
        {"waveform frame, 722", wave, true},
        {"83 characters", std::string(kTestFrameHex) + "0", false},
        {"81 characters", std::string(kTestFrameHex).substr(0, 81), false},
        {"721 characters", wave.substr(0, 721), false},
        {"723 characters", wave + "0", false},
        {"82 characters beginning 5B", "5B" + std::string(kTestFrameHex).substr(2), false},
        {"82 characters beginning lower-case 5a", "5a" + std::string(kTestFrameHex).substr(2), false},
        {"82 characters, 5A not at the start", "00" + std::string(kTestFrameHex).substr(0, 80), false},
        {"empty", "", false},
        {"two characters", "5A", false},
        {"164 characters (two frames)", std::string(kTestFrameHex) + kTestFrameHex, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsCompleteFrame(c.text), c.complete);
    }
}

TEST(FrameFields, TestFrameFieldsReadByPosition) {
    const std::string f = kTestFrameHex;
    EXPECT_EQ(f.size(), kReadingFrameChars);
    struct Case {
        int byte;
        int value;
    };
    // Bytes the decoder reads, by their documented meaning in the test frame.
    const Case cases[] = {{0, 0x5A}, {6, 0x80}, {10, 0x00}, {12, 0x00}, {19, 0x00}, {21, ' '}, {22, '0'},
                          {23, '0'}, {24, '.'}, {25, '6'},  {26, '6'},  {27, ' '},  {28, 'V'}, {40, 0x2E}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.byte);
        EXPECT_EQ(FrameByte(f, c.byte), c.value);
        EXPECT_EQ(static_cast<unsigned char>(FrameChar(f, c.byte)), c.value);
    }
    EXPECT_EQ(FrameLowDigit(f, 6), "0");   // mode digit is character 14
    EXPECT_EQ(FrameCharAt(f, 13), "8");    // its high digit is not the mode
    EXPECT_EQ(FrameLowDigit(f, 10), "0");  // coupling digit is character 22
    EXPECT_EQ(FrameCharAt(f, 1), "5");
    EXPECT_EQ(FrameCharAt(f, 82), "E");
}

TEST(FrameFields, MissingOrSpoiltCharacters) {
    // Past the end: empty texts, and bytes that cannot be converted.
    EXPECT_EQ(FrameCharAt("5A00", 5), "");
    EXPECT_EQ(FrameCharAt("5A00", 0), "");
    EXPECT_EQ(FrameLowDigit("5A0", 1), "");
    int v = -1;
    EXPECT_FALSE(TryFrameByte("5A00", 2, v));
    EXPECT_THROW(FrameByte("", 0), ConvertError);
    // A text ending inside a byte yields the digit that is there.
    EXPECT_TRUE(TryFrameByte("5A0F7", 2, v));
    EXPECT_EQ(v, 7);
    // A character that is no hex digit fails with the conversion error's text.
    EXPECT_FALSE(TryFrameByte("5AZ1", 1, v));
    try {
        FrameByte("5AZ1", 1);
        ADD_FAILURE() << "no conversion error";
    } catch (const ConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'$Z1' is not a valid integer value");
    }
}

TEST(FrameFields, SignedByteRule) {
    struct Case {
        int raw;
        int value;
    };
    const Case cases[] = {{0x00, 0},    {0x01, 1},   {0x7F, 127}, {0x80, 128},
                          {0x81, -127}, {0xF6, -10}, {0xFE, -2},  {0xFF, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        EXPECT_EQ(SignedFrameByte(c.raw), c.value);
    }
}

TEST(FrameHexText, BytesAndTextRoundTrip) {
    const std::vector<uint8_t> bytes{0x5A, 0x00, 0x0F, 0xA0, 0xFF, 0x2E};
    EXPECT_EQ(BytesToHex(bytes), "5A000FA0FF2E");
    std::vector<uint8_t> back;
    ASSERT_TRUE(HexToBytes("5A000FA0FF2E", back));
    EXPECT_EQ(back, bytes);
    ASSERT_TRUE(HexToBytes("5a0fa0", back));
    EXPECT_EQ(back, (std::vector<uint8_t>{0x5A, 0x0F, 0xA0}));
    for (const char* bad : {"5", "5A0", "5G", "5A 0"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(HexToBytes(bad, back));
    }
}

TEST(FrameEncoder, DefaultContentIsTheTestFrame) { EXPECT_EQ(EncodeFrame(FrameContent{}), kTestFrameHex); }

TEST(FrameEncoder, FieldsLandInTheirBytes) {
    FrameContent c;
    c.modeDigit = 'B';
    c.couplingDigit = '1';
    c.autoByte = 1;
    c.sign = '-';
    c.display = "1.2";  // padded with blanks
    c.prefix = 'k';
    c.offset = 0xF6;
    const std::string f = EncodeFrame(c);
    ASSERT_EQ(f.size(), kReadingFrameChars);
    EXPECT_TRUE(IsCompleteFrame(f));
    EXPECT_EQ(FrameCharAt(f, 14), "B");
    EXPECT_EQ(FrameCharAt(f, 13), "8");  // high digit of byte 6 kept
    EXPECT_EQ(FrameCharAt(f, 22), "1");
    EXPECT_EQ(FrameByte(f, 19), 1);
    EXPECT_EQ(FrameChar(f, 21), '-');
    EXPECT_EQ(FrameChar(f, 22), '1');
    EXPECT_EQ(FrameChar(f, 23), '.');
    EXPECT_EQ(FrameChar(f, 24), '2');
    EXPECT_EQ(FrameChar(f, 25), ' ');
    EXPECT_EQ(FrameChar(f, 26), ' ');
    EXPECT_EQ(FrameChar(f, 27), 'k');
    EXPECT_EQ(FrameByte(f, 12), 0xF6);
}

TEST(FrameEncoder, WaveformMakesA361ByteFrame) {
    FrameContent c;
    c.wave = {0x80, 0x7F, 0x01};  // padded with zero bytes to 320
    const std::string f = EncodeFrame(c);
    ASSERT_EQ(f.size(), kWaveFrameChars);
    EXPECT_TRUE(IsCompleteFrame(f));
    EXPECT_EQ(f.substr(0, 82), kTestFrameHex);
    EXPECT_EQ(FrameByte(f, 41), 0x80);
    EXPECT_EQ(FrameByte(f, 42), 0x7F);
    EXPECT_EQ(FrameByte(f, 43), 0x01);
    EXPECT_EQ(FrameByte(f, 360), 0x00);
    EXPECT_EQ(f.substr(88), Repeat("0", 722 - 88));
}

}  // namespace
