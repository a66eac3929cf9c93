#include "meter/convert.h"

#include <cstdint>

bool TryStrToInt(const std::string& text, int32_t& out) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && text[i] == ' ') ++i;
    bool neg = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        neg = text[i] == '-';
        ++i;
    }
    if (i >= n) return false;
    int64_t v = 0;
    for (; i < n; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        if (v > int64_t(INT32_MAX) + 1) return false;
    }
    if (neg) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    out = static_cast<int32_t>(v);
    return true;
}

int32_t StrToInt(const std::string& text) {
    int32_t v = 0;
    if (!TryStrToInt(text, v)) throw ConvertError("'" + text + "' is not a valid integer value");
    return v;
}
