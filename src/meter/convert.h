#pragma once
// Text-to-number conversions with the run-time library's error texts.
#include <cstdint>
#include <stdexcept>
#include <string>

// The run-time conversion error: "'%s' is not a valid integer value" and friends.
class ConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decimal integer as typed by a user: optional leading blanks, an optional sign, decimal
// digits; nothing else ("$12" and "0x12" are no integers). Anything else, or a value outside 32 bits,
// raises ConvertError("'<text>' is not a valid integer value").
int32_t StrToInt(const std::string& text);

// As StrToInt, but returns false instead of raising.
bool TryStrToInt(const std::string& text, int32_t& out);
