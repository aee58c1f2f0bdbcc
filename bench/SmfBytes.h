#pragma once

#include <cstdint>
#include <vector>

// Byte helpers for the songs the engine benchmarks generate.
namespace bench {

// Appends an SMF variable-length quantity (7 bits a byte, most significant first).
inline void putVarLen(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    std::uint8_t tmp[5];
    int n = 0;
    tmp[n++] = v & 0x7F;
    while (v >>= 7)
        tmp[n++] = std::uint8_t(0x80 | (v & 0x7F));
    while (n)
        out.push_back(tmp[--n]);
}

} // namespace bench
