// A registry DWORD's bytes: four, least significant first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline std::string DwordBytes(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return bytes;
}

// The number in at most four bytes; fewer are zero-extended.
inline std::uint32_t DwordFromBytes(std::string_view bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    }
    return value;
}
