// KV_ByteBuf: the block that grows as bytes arrive.
#include "foundation/kv_bytebuf.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

TEST(KV_ByteBuf, FillsByteByByteAndHandsOverATerminatedBlock)
{
    KV_ByteBuf b;
    EXPECT_EQ(b.size(), 0u);
    EXPECT_EQ(b.room(), 0u);
    EXPECT_EQ(b.release(), nullptr);

    std::string expect;
    for (int i = 0; i < 100000; ++i) {
        const unsigned char c = static_cast<unsigned char>('a' + i % 26);
        ASSERT_TRUE(b.put(c));
        expect += static_cast<char>(c);
    }
    EXPECT_EQ(b.size(), expect.size());
    unsigned char* block = b.release();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block)), expect);
    std::free(block);
    EXPECT_EQ(b.size(), 0u);
    EXPECT_EQ(b.release(), nullptr);
}

TEST(KV_ByteBuf, CallersWriteIntoTheRoomDirectly)
{
    KV_ByteBuf b;
    ASSERT_TRUE(b.reserve(10));
    EXPECT_GE(b.room(), 10u);
    std::memcpy(b.data(), "0123456789", 10);
    b.added(10);
    const uint32_t room = b.room();
    ASSERT_TRUE(b.reserve(room)); // fits: the block stays
    EXPECT_EQ(b.room(), room);
    ASSERT_TRUE(b.reserve(room + 1)); // grows at least twofold
    EXPECT_GE(b.size() + b.room() + 1, 2 * (10 + room + 1));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data()), b.size()), "0123456789");

    b.cut(4);
    ASSERT_TRUE(b.put('!'));
    unsigned char* block = b.release();
    EXPECT_STREQ(reinterpret_cast<char*>(block), "0123!");
    std::free(block);
}

TEST(KV_ByteBuf, RefusesToPassThirtyTwoBits)
{
    KV_ByteBuf b;
    ASSERT_TRUE(b.put('x'));
    const uint32_t room = b.room();
    // The size and its NUL must fit 32 bits: nothing changes on a refusal.
    EXPECT_FALSE(b.reserve(UINT32_MAX));
    EXPECT_FALSE(b.reserve(UINT32_MAX - 1));
    EXPECT_EQ(b.size(), 1u);
    EXPECT_EQ(b.room(), room);
    EXPECT_EQ(b.data()[0], 'x');
}

} // namespace
