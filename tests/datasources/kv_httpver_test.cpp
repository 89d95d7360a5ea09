#include "datasources/kv_httpver.h"

#include <gtest/gtest.h>

namespace {

TEST(KvHttpVer, ParsesText)
{
    struct Case
    {
        const char* text;
        uint32_t major;
        uint32_t minor;
    };
    const Case cases[] = {
        {"1.1", 1, 1},
        {"1.0", 1, 0},
        {"2.15", 2, 15},
        {"1x.2y", 1, 2},
        {"1.1.5", 1, 1},
        {"11", 0, 0}, // no dot
        {"", 0, 0},
        {"a.b", 0, 0},
        {".9", 0, 9},
        // Parts that do not fit 32 unsigned bits read as no number.
        {"-1.1", 0, 1},
        {"4294967296.3", 0, 3},
        {"4294967295.4294967295", 4294967295u, 4294967295u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const KV_HttpVer v{KV_String(c.text)};
        EXPECT_EQ(v.major_num(), c.major);
        EXPECT_EQ(v.minor_num(), c.minor);
    }
}

TEST(KvHttpVer, TextOrderAndValidity)
{
    EXPECT_EQ(KV_String(KV_HttpVer(1, 1)), "1.1");
    EXPECT_EQ(KV_String(KV_HttpVer(4294967295u, 0)), "4294967295.0");
    EXPECT_EQ(KV_HttpVer(KV_String(KV_HttpVer(3, 12))), KV_HttpVer(3, 12));

    EXPECT_FALSE(KV_HttpVer().valid());
    EXPECT_TRUE(KV_HttpVer(0, 9).valid());
    EXPECT_LT(KV_HttpVer(1, 0), KV_HttpVer(1, 1));
    EXPECT_LT(KV_HttpVer(1, 9), KV_HttpVer(2, 0));
    EXPECT_GE(KV_HttpVer(1, 1), KV_HttpVer(1, 1));
    EXPECT_NE(KV_HttpVer(1, 0), KV_HttpVer(0, 1));
}

} // namespace
