// The start of the next mirror pass: daily, weekly and monthly starts fall at
// the set time after local midnight in any time zone; invalid days refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "transfers/kv_tavotrans.h"

namespace {

// Sets TZ for the test and puts the old one back.
class Zone
{
public:
    explicit Zone(const char* tz)
    {
        const char* old = std::getenv("TZ");
        had = old != nullptr;
        if (had)
            saved = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~Zone()
    {
        if (had)
            ::setenv("TZ", saved.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool had = false;
    std::string saved;
};

std::tm local(const KV_Time& t)
{
    const std::time_t tt = t.impl();
    std::tm out{};
    localtime_r(&tt, &out);
    return out;
}

TEST(MirrorSchedule, StartsFollowTheLocalCalendarInEveryZone)
{
    for (const char* tz : {"UTC", "America/New_York", "Pacific/Auckland"}) {
        SCOPED_TRACE(tz);
        Zone zone(tz);
        // 23:59 local time on 10 March 2025.
        const KV_Time last(10, 3, 2025, 23, 59, 0);
        ASSERT_TRUE(last.valid());
        KV_Time next;
        ASSERT_TRUE(KV_TavoTrans::next_start(1, 600, 0, last, next));
        EXPECT_EQ(next.impl(), last.impl() + 600);

        ASSERT_TRUE(KV_TavoTrans::next_start(2, 3600, 0, last, next));
        std::tm t = local(next);
        EXPECT_EQ(t.tm_mday, 11);
        EXPECT_EQ(t.tm_hour, 1);
        EXPECT_EQ(t.tm_min, 0);

        // 10 March 2025 is a Monday: the next Sunday is the 16th.
        ASSERT_TRUE(KV_TavoTrans::next_start(3, 7200, 0, last, next));
        t = local(next);
        EXPECT_EQ(t.tm_wday, 0);
        EXPECT_EQ(t.tm_mday, 16);
        EXPECT_EQ(t.tm_hour, 2);

        // Day 31 after 30 April: 31 May.
        const KV_Time april(30, 4, 2025, 12, 0, 0);
        ASSERT_TRUE(KV_TavoTrans::next_start(4, 0, 31, april, next));
        t = local(next);
        EXPECT_EQ(t.tm_mon, 4);
        EXPECT_EQ(t.tm_mday, 31);
        EXPECT_EQ(t.tm_hour, 0);
    }
}

TEST(MirrorSchedule, InvalidDaysAndKindsAreRefused)
{
    Zone zone("UTC");
    const KV_Time last(10, 3, 2025, 12, 0, 0);
    KV_Time next;
    EXPECT_FALSE(KV_TavoTrans::next_start(3, 0, 7, last, next));
    EXPECT_FALSE(KV_TavoTrans::next_start(4, 0, 0, last, next));
    EXPECT_FALSE(KV_TavoTrans::next_start(4, 0, 32, last, next));
    EXPECT_FALSE(KV_TavoTrans::next_start(5, 0, 1, last, next));
    EXPECT_FALSE(KV_TavoTrans::next_start(0, 0, 1, last, next));
}

} // namespace
