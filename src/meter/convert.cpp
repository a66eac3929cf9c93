#include "meter/convert.h"

#include <cctype>

bool TryStrToInt(const std::string& text, int32_t& out) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && text[i] == ' ') ++i;
    bool neg = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        neg = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < n && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= n) return false;
    int64_t v = 0;
    for (; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (base == 16 && std::isxdigit(c)) d = std::toupper(c) - 'A' + 10;
        else return false;
        v = v * base + d;
        if (v > 0x100000000LL) return false;
    }
    if (neg) v = -v;
    if (base == 10 && (v > INT32_MAX || v < INT32_MIN)) return false;
    if (base == 16) {
        if (v > 0xFFFFFFFFLL || v < -0xFFFFFFFFLL) return false;
        out = static_cast<int32_t>(static_cast<uint32_t>(v));
        return true;
    }
    out = static_cast<int32_t>(v);
    return true;
}

int32_t StrToInt(const std::string& text) {
    int32_t v = 0;
    if (!TryStrToInt(text, v)) throw EConvertError("'" + text + "' is not a valid integer value");
    return v;
}
