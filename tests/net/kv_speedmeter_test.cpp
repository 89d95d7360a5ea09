#include "net/kv_speedmeter.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

std::atomic<int64_t> fake_now{1000000};

int64_t fake_clock()
{
    return fake_now.load();
}

// Every meter here reads a clock the test moves by hand.
class SpeedMeter : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fake_now = 1000000;
        KV_SpeedMeter::set_impl_clock(fake_clock);
    }
    void TearDown() override { KV_SpeedMeter::set_impl_clock(nullptr); }

    static void advance(int64_t ms) { fake_now += ms; }
};

TEST_F(SpeedMeter, AllowanceGrowsByTheLimitPerSecond)
{
    KV_SpeedMeter m;
    EXPECT_EQ(m.allowance(10000), 0);
    EXPECT_EQ(m.allowance(1e9), 0);
    advance(500);
    EXPECT_EQ(m.allowance(10000), 5000);
    advance(500);
    EXPECT_EQ(m.allowance(10000), 10000);
    m.add(4000);
    EXPECT_EQ(m.allowance(10000), 6000);
    m.add(7000);
    EXPECT_EQ(m.allowance(10000), 0);
}

TEST_F(SpeedMeter, AllowanceExample)
{
    // 30,000 bytes counted, 5 s after the oldest sample started, limit
    // 10,000 bytes per second.
    KV_SpeedMeter m;
    m.add(30000);
    advance(5000);
    EXPECT_EQ(m.allowance(10000), 20000);
}

// A limit times a long span does not fit 64 bits; the answer must still be
// a large allowance, not a wrapped or negative one.
TEST_F(SpeedMeter, HugeAllowanceIsClamped)
{
    KV_SpeedMeter m;
    advance(3600 * 1000);
    EXPECT_GT(m.allowance(1e300), int64_t(1) << 50);
    EXPECT_GT(m.allowance(1e15), int64_t(1) << 50);
    EXPECT_EQ(m.allowance(0), 0);
}

// After 17 or more closed samples only the 16 newest count, and the span
// starts at the 16th newest.
TEST_F(SpeedMeter, WindowHoldsSixteenSamples)
{
    KV_SpeedMeter m;
    // Add k (k = 0..19) counts 100 * (k + 1) bytes at 1001 * k ms. An add
    // more than a second after its sample opened is counted in that sample
    // and then closes it, so sample j (opened at 1001 * j ms) holds add j + 1
    // (sample 0 also add 0), and sample 19 is open and empty.
    for (int k = 0; k < 20; ++k) {
        if (k)
            advance(1001);
        m.add(uint64_t(100) * uint64_t(k + 1));
    }
    // The window holds samples 4..19: adds 5..19, the oldest opened at
    // 1001 * 4 ms.
    uint64_t sum = 0;
    for (int k = 5; k < 20; ++k)
        sum += uint64_t(100) * uint64_t(k + 1);
    const int64_t span = 1001 * 19 - 1001 * 4;
    EXPECT_DOUBLE_EQ(m.rate(0), double(sum) * 1000.0 / double(span));
    // 2 bytes per ms over the span, less what was counted.
    EXPECT_EQ(m.allowance(2000), 2 * span - int64_t(sum));
}

TEST_F(SpeedMeter, RateAnswersAtMostOncePerInterval)
{
    KV_SpeedMeter m;
    // The first second after a reset has no answer for a 1000 ms interval.
    EXPECT_EQ(m.rate(1000), -1.0);
    // No time since the oldest sample started: 0.
    EXPECT_EQ(m.rate(0), 0.0);
    m.add(2000);
    advance(1000);
    EXPECT_DOUBLE_EQ(m.rate(1000), 2000.0);
    advance(999);
    EXPECT_EQ(m.rate(1000), -1.0);
    advance(1);
    EXPECT_GE(m.rate(1000), 0.0);
    // A copy carries the samples.
    KV_SpeedMeter copy(m);
    EXPECT_EQ(copy.allowance(1000), m.allowance(1000));
}

TEST_F(SpeedMeter, OneSampleSpansAQuietPause)
{
    KV_SpeedMeter m;
    m.add(1000);
    advance(500);
    m.add(1000);
    advance(60000);
    // The pause is part of the open sample until the next add closes it.
    EXPECT_NEAR(m.rate(0), 2000.0 * 1000.0 / 60500.0, 1e-9);
    EXPECT_EQ(m.allowance(100), 6050 - 2000);
    m.add(500);
    EXPECT_NEAR(m.rate(0), 2500.0 * 1000.0 / 60500.0, 1e-9);
}

TEST_F(SpeedMeter, ResetForgetsEverything)
{
    KV_SpeedMeter m;
    m.add(5000);
    advance(3000);
    m.reset();
    EXPECT_EQ(m.allowance(1000), 0);
    advance(1000);
    EXPECT_EQ(m.allowance(1000), 1000);
}

} // namespace
