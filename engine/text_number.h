#pragma once

#include <cstdint>
#include <string_view>

// Reads a number the way atoi does: leading blanks, an optional sign, then
// digits up to the first non-digit; 0 when there are none. Unlike atoi it
// never overflows: the result wraps modulo 2^32, which keeps the low 16 bits
// that a port number uses exact.
inline int AtoiText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    }
    if (negative) {
        value = 0u - value;
    }
    return static_cast<int>(value);
}
