#pragma once

#include <cstdint>

namespace mirvo::test {

// Byte `index` of what `mirvo_test_child flood` writes: printable and without a short period, so that
// any shift of the kept output shows.
inline char floodByte(std::int64_t index)
{
    static constexpr char alphabet[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const auto mixed = std::uint64_t(index) * 0x9E3779B97F4A7C15ull;
    return alphabet[(mixed >> 40) % (sizeof(alphabet) - 1)];
}

} // namespace mirvo::test
