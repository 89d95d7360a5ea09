#include "core/rootopts.h"

#include <cstdlib>
#include <limits>

int AutoRmState(uint8_t now, uint8_t at_start, int bit)
{
    const uint8_t mask = static_cast<uint8_t>(1u << bit);
    return (now & mask) ? 1 : (at_start & mask) ? 2 : 0;
}

void AutoRmMasks(const int states[3], uint8_t& now, uint8_t& at_start)
{
    now = 0;
    at_start = 0;
    for (int bit = 0; bit < 3; ++bit) {
        const uint8_t mask = static_cast<uint8_t>(1u << bit);
        if (states[bit] == 1) {
            now |= mask;
        } else if (states[bit] == 2) {
            at_start |= mask;
        }
    }
}

std::optional<int32_t> StartTipsToWrite(bool checked, std::optional<int32_t> stored)
{
    constexpr int32_t kNone = 0x7FFFFFFF;
    if (!checked) {
        const int32_t v = stored.value_or(0);
        // Already negative (the lowest value too, whose absolute value does
        // not fit) stays as it is.
        return v <= 0 ? v : -v;
    }
    const int32_t v = stored.value_or(kNone);
    const int32_t s = v == std::numeric_limits<int32_t>::min() ? kNone : std::abs(v);
    if (s == kNone) {
        return std::nullopt;
    }
    return s == 0 ? 0x7FFFFFFE : s;
}
