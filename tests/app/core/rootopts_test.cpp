// The program settings page's arithmetic: removal masks of three-state
// boxes and the sign rule of "StartTips".
#include "core/rootopts.h"

#include <gtest/gtest.h>

namespace {

TEST(RootOpts, AutoRemovalMasks)
{
    struct Row
    {
        uint8_t now, at_start;
        int states[3];
    } rows[] = {
        {0x05, 0x02, {1, 2, 1}}, // the engine's defaults
        {0x00, 0x01, {2, 0, 0}}, // completed only at the next start
        {0x01, 0x01, {1, 0, 0}}, // both set: removed at once wins
        {0x00, 0x00, {0, 0, 0}}, {0x07, 0x00, {1, 1, 1}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << int(r.now) << "/" << int(r.at_start));
        for (int bit = 0; bit < 3; ++bit) {
            EXPECT_EQ(AutoRmState(r.now, r.at_start, bit), r.states[bit]) << bit;
        }
        uint8_t now = 0xFF, at_start = 0xFF;
        AutoRmMasks(r.states, now, at_start);
        EXPECT_EQ(now, r.now);
        EXPECT_EQ(at_start, r.at_start & ~r.now);
    }
}

TEST(RootOpts, StartTipsSignRule)
{
    // Unchecking a stored 5 stores -5; checking it again stores 5.
    std::optional<int32_t> v = StartTipsToWrite(false, 5);
    EXPECT_EQ(v, -5);
    EXPECT_EQ(StartTipsToWrite(true, v), 5);
    // Nothing stored: checking stores nothing, unchecking stores 0.
    EXPECT_EQ(StartTipsToWrite(true, std::nullopt), std::nullopt);
    EXPECT_EQ(StartTipsToWrite(false, std::nullopt), 0);
    // 0 means "off before any tip": checking starts the tips again.
    EXPECT_EQ(StartTipsToWrite(true, 0), 0x7FFFFFFE);
    EXPECT_EQ(StartTipsToWrite(false, -7), -7);
    EXPECT_EQ(StartTipsToWrite(true, -7), 7);
    // The extremes never overflow.
    EXPECT_EQ(StartTipsToWrite(false, INT32_MIN), INT32_MIN);
    EXPECT_EQ(StartTipsToWrite(true, INT32_MIN), std::nullopt);
    EXPECT_EQ(StartTipsToWrite(false, INT32_MAX), -INT32_MAX);
}

} // namespace
