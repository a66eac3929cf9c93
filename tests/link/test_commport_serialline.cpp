// Line assembly of the serial meter link: low digits per byte, the line text at each
// carriage return, and which lines ask for the decoder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/seriallink.h"

namespace {

using seriallink::ByteResult;
using seriallink::FeedByte;

// The line handling of one received byte sequence: results per byte and the final texts.
struct Fed {
    std::vector<ByteResult> results;
    std::string loText;
    std::string line;
    std::vector<std::string> lines;  // SerialLine at each carriage return
};

Fed FeedAll(const std::vector<uint8_t>& bytes, std::string loText = {}, std::string line = {}) {
    Fed f;
    f.loText = std::move(loText);
    f.line = std::move(line);
    for (uint8_t b : bytes) {
        f.results.push_back(FeedByte(b, f.loText, f.line));
        if (f.results.back() != ByteResult::Text) f.lines.push_back(f.line);
    }
    return f;
}

// Eleven bytes: a first byte with low digit A, nine data bytes, the carriage return.
std::vector<uint8_t> FrameLine(uint8_t first = 0x3A) {
    return {first, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x0D};
}

TEST(SerialLineAssembly, OrdinaryBytesAppendTheirLowDigit) {
    const Fed f = FeedAll({0x00, 0x1F, 0xA5, 0xFF, 0x3C, 0x0E});
    EXPECT_EQ(f.loText, "0F5FCE");
    for (ByteResult r : f.results) EXPECT_EQ(r, ByteResult::Text);
    EXPECT_TRUE(f.line.empty());
}

TEST(SerialLineAssembly, CarriageReturnBuildsTheLineAndDecides) {
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        ByteResult last;
        const char* line;
    } cases[] = {
        {"eleven bytes, A first", FrameLine(), ByteResult::FrameLine, "123456789DA"},
        {"first byte 0xFA also has low digit A", FrameLine(0xFA), ByteResult::FrameLine, "123456789DA"},
        {"first low digit not A", FrameLine(0x3B), ByteResult::Line, "123456789DA"},
        {"ten bytes: CR is the tenth",
         {0x3A, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x0D},
         ByteResult::Line,
         "12345678DDA"},
        {"twelve bytes: CR is the twelfth",
         {0x3A, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x30, 0x0D},
         ByteResult::Line,
         "123456789DA"},
        {"longer line whose eleventh byte has low digit D",
         {0x3A, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x1D, 0x31, 0x0D},
         ByteResult::FrameLine,
         "123456789DA"},
        {"lone carriage return", {0x0D}, ByteResult::Line, "DA"},
        {"two bytes", {0x3A, 0x0D}, ByteResult::Line, "DDA"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Fed f = FeedAll(c.bytes);
        ASSERT_EQ(f.results.size(), c.bytes.size());
        EXPECT_EQ(f.results.back(), c.last);
        for (size_t i = 0; i + 1 < f.results.size(); ++i) {
            if (c.bytes[i] != 0x0D) {
                EXPECT_EQ(f.results[i], ByteResult::Text) << "byte " << i;
            }
        }
        EXPECT_EQ(f.line, c.line);
        EXPECT_TRUE(f.loText.empty()) << "the next line must start from its own first byte";
    }
}

TEST(SerialLineAssembly, EveryLineIsTestedFromItsOwnStart) {
    // Three lines in a row: a frame line, a short line, a frame line; then half a line.
    std::vector<uint8_t> bytes = FrameLine();
    for (uint8_t b : {0x41, 0x42, 0x0D}) bytes.push_back(b);
    for (uint8_t b : FrameLine(0x5A)) bytes.push_back(b);
    for (uint8_t b : {0x3A, 0x34}) bytes.push_back(b);
    const Fed f = FeedAll(bytes);
    std::vector<ByteResult> ends;
    for (ByteResult r : f.results)
        if (r != ByteResult::Text) ends.push_back(r);
    EXPECT_EQ(ends, (std::vector<ByteResult>{ByteResult::FrameLine, ByteResult::Line, ByteResult::FrameLine}));
    EXPECT_EQ(f.lines, (std::vector<std::string>{"123456789DA", "2DDA", "123456789DA"}));
    EXPECT_EQ(f.loText, "A4");
}

TEST(SerialLineAssembly, TextLeftOverFromBeforeCountsAsTheLineStart) {
    // A line may arrive over several receive calls: the digits kept so far are its start.
    std::string lo = "A1234";
    std::string line;
    const std::vector<uint8_t> rest = {0x35, 0x36, 0x37, 0x38, 0x39, 0x0D};
    const Fed f = FeedAll(rest, lo, line);
    EXPECT_EQ(f.results.back(), ByteResult::FrameLine);
    EXPECT_EQ(f.line, "123456789DA");
}

TEST(SerialLineAssembly, ALineWithoutCarriageReturnStaysBounded) {
    std::vector<uint8_t> bytes(seriallink::kMaxLineDigits * 3, 0x37);
    bytes[0] = 0x3A;
    bytes[10] = 0x0D - 0x10 + 0x20;  // low digit D at the eleventh byte, not a carriage return
    Fed f = FeedAll(bytes);
    EXPECT_EQ(f.loText.size(), seriallink::kMaxLineDigits);
    EXPECT_EQ(f.loText.substr(0, 11), "A777777777D");
    // The decision at the carriage return still reads the line's own first and eleventh byte.
    EXPECT_EQ(FeedByte(0x0D, f.loText, f.line), ByteResult::FrameLine);
    EXPECT_EQ(f.line, "777777777DA");
    EXPECT_TRUE(f.loText.empty());
}

}  // namespace
