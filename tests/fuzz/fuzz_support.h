// What the fuzz targets share: a check that turns a broken invariant into a
// crash libFuzzer reports with its input, and a way to cut input into pieces
// as the network or a download would deliver it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

[[noreturn]] inline void FuzzInvariantBroken(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : FuzzInvariantBroken(#condition, __FILE__, __LINE__))

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Calls `take` with consecutive pieces of `text` (1 to 64 bytes, sizes drawn
// from `seed`); every byte is handed over once, in order.
template <class Take>
void ForEachPiece(std::string_view text, std::uint32_t seed, Take&& take) {
    while (!text.empty()) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t size = 1 + (seed >> 16) % 64;
        const std::string_view piece = text.substr(0, size);
        take(piece);
        text.remove_prefix(piece.size());
    }
}
