#pragma once
// Line assembly of the serial meter link. The meter's serial line carries text lines ended
// by a carriage return; the link keeps the low hexadecimal digit of every byte of the current
// line and, at the carriage return, builds the line text shown to the user and decides
// whether the line asks for a reading to be decoded: its first byte has the low digit A and
// its eleventh the low digit D (an eleven-byte line ends with the carriage return there).
#include <cstddef>
#include <cstdint>
#include <string>

namespace seriallink {

// What one received byte did.
enum class ByteResult : uint8_t {
    Text,       // appended to the line: show SerialLoText
    Line,       // carriage return: show SerialLine
    FrameLine,  // carriage return of a line that asks for the decoder: show SerialLine, decode
};

// The most low digits kept for one line. A line that runs on without a carriage return (a
// wrong speed, a silent garbage stream) keeps its first digits only; the decision reads the
// first eleven, so it is not affected.
inline constexpr size_t kMaxLineDigits = 1024;

// Handles one received byte. loText holds the low digits of the current line (SerialLoText)
// and is emptied once a carriage return has been handled, so every line is tested from its
// own start; line (SerialLine) is set at each carriage return to the digits 2 to 10 of the
// line followed by "DA".
ByteResult FeedByte(uint8_t byte, std::string& loText, std::string& line);

}  // namespace seriallink
