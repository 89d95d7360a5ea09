#include <gtest/gtest.h>

#include <cstring>

#include "foundation/kv_le.h"

namespace {

TEST(KvLe, WritesAndReadsEachWidthInBothOrders)
{
    unsigned char b[8];
    kv_put_le<uint32_t>(b, 0x11223344u);
    EXPECT_EQ(0, std::memcmp(b, "\x44\x33\x22\x11", 4));
    EXPECT_EQ(kv_get_le<uint32_t>(b), 0x11223344u);

    kv_put_be<uint32_t>(b, 0x11223344u);
    EXPECT_EQ(0, std::memcmp(b, "\x11\x22\x33\x44", 4));
    EXPECT_EQ(kv_get_be<uint32_t>(b), 0x11223344u);

    kv_put_le<int64_t>(b, -2);
    EXPECT_EQ(0, std::memcmp(b, "\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8));
    EXPECT_EQ(kv_get_le<int64_t>(b), -2);

    kv_put_le<uint16_t>(b, 0xABCD);
    EXPECT_EQ(b[0], 0xCD);
    EXPECT_EQ(b[1], 0xAB);
    EXPECT_EQ(kv_get_le<uint16_t>(b), 0xABCD);
    EXPECT_EQ(kv_get_le<int16_t>(b), static_cast<int16_t>(0xABCD));

    kv_put_le<uint8_t>(b, 0x7F);
    EXPECT_EQ(kv_get_le<uint8_t>(b), 0x7F);
}

} // namespace
