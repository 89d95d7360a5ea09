#include "foundation/kv_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <thread>

namespace {

// Runs every test in a zone three hours east of UTC without daylight saving,
// so that local and UTC readings differ by a known amount; the zone of the
// machine is put back afterwards.
class KV_TimeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        had_tz = tz != nullptr;
        if (had_tz)
            old_tz = tz;
        setenv("TZ", "XST-3", 1);
        tzset();
    }

    void TearDown() override
    {
        if (had_tz)
            setenv("TZ", old_tz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    static int64_t utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
    {
        std::tm parts{};
        parts.tm_year = year - 1900;
        parts.tm_mon = month - 1;
        parts.tm_mday = day;
        parts.tm_hour = hour;
        parts.tm_min = minute;
        parts.tm_sec = second;
        return timegm(&parts);
    }

    // The same wall-clock reading in the pinned local zone (UTC+3).
    static int64_t local(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
    {
        return utc(year, month, day, hour, minute, second) - 3 * 3600;
    }

    static std::string bytes_of(const KV_Stream& st)
    {
        const unsigned char* p = st;
        return p ? std::string(reinterpret_cast<const char*>(p), st.length()) : std::string();
    }

private:
    bool had_tz = false;
    std::string old_tz;
};

constexpr int32_t int32_max = std::numeric_limits<int32_t>::max();
constexpr int32_t int32_min = std::numeric_limits<int32_t>::min();

TEST_F(KV_TimeTest, DefaultIsInvalidAndStoredAsMinusOne)
{
    KV_Time t;
    EXPECT_FALSE(t.valid());
    EXPECT_EQ(t.impl(), -1);
    EXPECT_TRUE(t.as_str("%c").empty());
    EXPECT_EQ(t.year(), 0);
    EXPECT_EQ(t.month(), 0);
    KV_Stream st;
    ASSERT_TRUE(t.write_bin(st));
    EXPECT_EQ(bytes_of(st), std::string(4, '\xFF'));
    EXPECT_EQ(KV_Time::size(), 4u);
}

TEST_F(KV_TimeTest, BinaryFormIsFourLittleEndianBytes)
{
    KV_Stream st;
    ASSERT_TRUE(KV_Time(0x01020304L).write_bin(st));
    ASSERT_TRUE(KV_Time(-2L).write_bin(st));
    EXPECT_EQ(bytes_of(st), std::string("\x04\x03\x02\x01\xFE\xFF\xFF\xFF", 8));

    KV_Time a, b;
    ASSERT_TRUE(a.read_bin(st));
    ASSERT_TRUE(b.read_bin(st));
    EXPECT_EQ(a.impl(), 0x01020304);
    EXPECT_EQ(b.impl(), -2);
    EXPECT_TRUE(b.valid());

    // A short read fails and leaves the time as it was.
    const unsigned char three[3] = {1, 2, 3};
    st.append(three, 3);
    KV_Time c(77L);
    EXPECT_FALSE(c.read_bin(st));
    EXPECT_EQ(c.impl(), 77);
}

TEST_F(KV_TimeTest, ValuesBelowOneDayDisplayAsDurations)
{
    const struct
    {
        long value;
        const char* text;
    } cases[] = {{0, "00:00:00"}, {59, "00:00:59"}, {3725, "01:02:05"}, {86399, "23:59:59"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_STREQ(KV_Time(c.value).as_str("%Y-%m-%d").data(), c.text);
        EXPECT_STREQ(KV_Time(c.value).as_str(nullptr).data(), c.text);
    }
}

TEST_F(KV_TimeTest, PointsInTimeDisplayAsLocalTime)
{
    EXPECT_STREQ(KV_Time(86400L).as_str("%Y-%m-%d %H:%M:%S").data(), "1970-01-02 03:00:00");
    KV_Time t(static_cast<long>(utc(1994, 11, 6, 8, 49, 37)));
    EXPECT_STREQ(t.as_str("%Y-%m-%d %H:%M:%S").data(), "1994-11-06 11:49:37");
    // A form labelled GMT shows UTC, with English names.
    EXPECT_STREQ(t.as_str("%a, %d %b %Y %H:%M:%S GMT").data(), "Sun, 06 Nov 1994 08:49:37 GMT");
    // Display texts are cut to 127 characters.
    std::string wide(300, 'x');
    EXPECT_EQ(t.as_str(wide.c_str()), KV_String(std::string(127, 'x').c_str()));
}

TEST_F(KV_TimeTest, DateConstructorsBuildLocalTimeAndRefuseBadDates)
{
    EXPECT_EQ(KV_Time(6, 11, 1994, 0L).impl(), local(1994, 11, 6));
    EXPECT_EQ(KV_Time(6, 11, 1994, 3725L).impl(), local(1994, 11, 6, 1, 2, 5));
    EXPECT_EQ(KV_Time(6, 11, 1994, 8, 49, 37).impl(), local(1994, 11, 6, 8, 49, 37));

    const struct
    {
        const char* what;
        KV_Time time;
    } invalid[] = {
        {"month 0", KV_Time(1, 0, 2000, 0L)},
        {"month 0 with clock", KV_Time(1, 0, 2000, 1, 2, 3)},
        {"year 1899", KV_Time(1, 1, 1899, 0L)},
        {"year 1899 with clock", KV_Time(1, 1, 1899, 1, 2, 3)},
        // 32-bit seconds end in January 2038 and begin in December 1901.
        {"year 2100", KV_Time(1, 1, 2100, 0L)},
        {"year 2100 with clock", KV_Time(1, 1, 2100, 0, 0, 0)},
        {"year 1900", KV_Time(1, 1, 1900, 0L)},
        {"offset past 2038", KV_Time(1, 1, 2038, 100L * 86400)},
        {"huge offset", KV_Time(1, 1, 2000, std::numeric_limits<long>::max())},
    };
    for (const auto& c : invalid) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(c.time.valid());
    }
}

TEST_F(KV_TimeTest, FieldsAreReadAsUtc)
{
    KV_Time t(static_cast<long>(utc(1994, 11, 6, 8, 49, 37)));
    EXPECT_EQ(t.second(), 37);
    EXPECT_EQ(t.minute(), 49);
    EXPECT_EQ(t.hour(), 8);
    EXPECT_EQ(t.day(), 6);
    EXPECT_EQ(t.month_day(), 6);
    EXPECT_EQ(t.month(), 11);
    EXPECT_EQ(t.year(), 1994);
    EXPECT_EQ(t.week_day(), 0);

    // Times before 1970 other than -1 are valid.
    KV_Time before(-86400L);
    EXPECT_TRUE(before.valid());
    EXPECT_EQ(before.year(), 1969);
    EXPECT_EQ(before.month(), 12);
    EXPECT_EQ(before.day(), 31);
}

TEST_F(KV_TimeTest, ArithmeticAndComparisonStayWithin32Bits)
{
    KV_Time t(1000L);
    t += 500L;
    EXPECT_EQ(t.impl(), 1500);
    t -= KV_Time(2000L);
    EXPECT_EQ(t.impl(), -500);
    EXPECT_EQ((KV_Time(10L) + 5L).impl(), 15);
    EXPECT_EQ((KV_Time(10L) - KV_Time(15L)).impl(), -5);

    // Out-of-range values clamp instead of wrapping round.
    EXPECT_EQ(KV_Time(1L << 40).impl(), int32_max);
    EXPECT_EQ(KV_Time(-(1L << 40)).impl(), int32_min);
    EXPECT_EQ((KV_Time(static_cast<long>(int32_max)) + 10L).impl(), int32_max);
    EXPECT_EQ((KV_Time(static_cast<long>(int32_min)) - 10L).impl(), int32_min);

    // Signed comparison; an invalid time counts as -1.
    EXPECT_TRUE(KV_Time() < KV_Time(0L));
    EXPECT_TRUE(KV_Time() == KV_Time(-1L));
    EXPECT_TRUE(KV_Time(-5L) < KV_Time(3L));
    EXPECT_TRUE(KV_Time(3L) >= KV_Time(3L));
    EXPECT_TRUE(KV_Time(4L) > KV_Time(3L));
    EXPECT_TRUE(KV_Time(3L) <= KV_Time(4L));
    EXPECT_TRUE(KV_Time(3L) != KV_Time(4L));
}

TEST_F(KV_TimeTest, FromStrTable)
{
    // Each case starts from this value, to see whether a refused text left the
    // time alone (unchanged) or replaced it by an invalid one (-1).
    constexpr int64_t before = 12345;
    constexpr int64_t unchanged = -2;

    time_t now_t = time(nullptr);
    struct tm now_parts;
    gmtime_r(&now_t, &now_parts);
    const int this_year = now_parts.tm_year + 1900;

    const struct
    {
        const char* text;
        KV_STR_TM_CONV conv;
        bool ok;
        int64_t value; // expected seconds, -1 invalid, `unchanged`
    } cases[] = {
        // HTTP dates are UTC, with or without the zone word.
        {"Sun, 06 Nov 1994 08:49:37 GMT", KV_STR_TM_GMT, true, utc(1994, 11, 6, 8, 49, 37)},
        {"Sun, 06 Nov 1994 08:49:37", KV_STR_TM_GMT, true, utc(1994, 11, 6, 8, 49, 37)},
        {"Sun, 06 nov 1994 08:49:37 GMT", KV_STR_TM_GMT, true, utc(1994, 11, 6, 8, 49, 37)},
        {"Sun, 06 Foo 1994 08:49:37 GMT", KV_STR_TM_GMT, false, -1},
        {"Sun, 06 Nov 2100 08:49:37 GMT", KV_STR_TM_GMT, false, -1},
        {"Sun, 06 Nov 1994", KV_STR_TM_GMT, false, unchanged},
        {"", KV_STR_TM_GMT, false, unchanged},

        // Unix listing forms, local time.
        {"Nov 6 1994 08:49:37", KV_STR_TM_MONTH_FIRST, true, local(1994, 11, 6, 8, 49, 37)},
        {"Nov 6 1994 08:49", KV_STR_TM_MONTH_FIRST, true, local(1994, 11, 6, 8, 49)},
        {"Nov  6 08:49", KV_STR_TM_MONTH_FIRST, true, local(this_year, 11, 6, 8, 49)},
        {"Nov 6 1994", KV_STR_TM_MONTH_FIRST, true, local(1994, 11, 6)},
        {"NOV 6 1994", KV_STR_TM_MONTH_FIRST, true, local(1994, 11, 6)},
        {"November 6 1994", KV_STR_TM_MONTH_FIRST, false, -1},
        {"Nov 6 1899", KV_STR_TM_MONTH_FIRST, false, -1},
        // A day that does not fit 16 bits is refused, not wrapped to day 6.
        {"Nov 65542 1994", KV_STR_TM_MONTH_FIRST, false, -1},
        {"Nov", KV_STR_TM_MONTH_FIRST, false, unchanged},

        // DOS listing: month-day-year, AM/PM, two-digit years completed.
        {"11-06-94 08:49PM", KV_STR_TM_MDY_AMPM, true, local(1994, 11, 6, 20, 49)},
        {"11-06-94 08:49AM", KV_STR_TM_MDY_AMPM, true, local(1994, 11, 6, 8, 49)},
        {"11-06-04 12:00AM", KV_STR_TM_MDY_AMPM, true, local(2004, 11, 6, 0, 0)},
        {"11-06-04 12:30am", KV_STR_TM_MDY_AMPM, true, local(2004, 11, 6, 0, 30)},
        {"11-06-04 12:30PM", KV_STR_TM_MDY_AMPM, true, local(2004, 11, 6, 12, 30)},
        {"11-06-1994 08:49 pm", KV_STR_TM_MDY_AMPM, true, local(1994, 11, 6, 20, 49)},
        {"12-31-51 11:59PM", KV_STR_TM_MDY_AMPM, true, local(1951, 12, 31, 23, 59)},
        // 2050 is past the end of 32-bit time.
        {"01-01-50 01:00AM", KV_STR_TM_MDY_AMPM, false, -1},
        {"00-06-94 08:49PM", KV_STR_TM_MDY_AMPM, false, -1},
        // Without the word the DOS form does not match; the Unix forms are
        // tried instead.
        {"11-06-94 08:49", KV_STR_TM_MDY_AMPM, false, unchanged},
        {"Nov 6 1994", KV_STR_TM_MDY_AMPM, true, local(1994, 11, 6)},

        // Day, three-letter month, year.
        {"06-nov-1994 08:49", KV_STR_TM_DMY, true, local(1994, 11, 6, 8, 49)},
        {"06-NOV-1994 08:49", KV_STR_TM_DMY, true, local(1994, 11, 6, 8, 49)},
        {"06-Xyz-1994 08:49", KV_STR_TM_DMY, false, -1},
        {"06-November-1994 08:49", KV_STR_TM_DMY, false, unchanged},
        {"06-nov-1994", KV_STR_TM_DMY, false, unchanged},

        {"Nov 6 1994", static_cast<KV_STR_TM_CONV>(9), false, unchanged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / form " + std::to_string(c.conv));
        KV_Time t(static_cast<long>(before));
        EXPECT_EQ(t.from_str(KV_String(c.text), c.conv), c.ok);
        EXPECT_EQ(t.impl(), c.value == unchanged ? before : c.value);
    }
}

TEST_F(KV_TimeTest, FromStrRefusesTextsOf512CharactersOrMore)
{
    const struct
    {
        const char* text;
        KV_STR_TM_CONV conv;
    } starts[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", KV_STR_TM_GMT},
        {"Nov 6 1994", KV_STR_TM_MONTH_FIRST},
        {"11-06-94 08:49PM", KV_STR_TM_MDY_AMPM},
        {"06-nov-1994 08:49", KV_STR_TM_DMY},
    };
    for (const auto& c : starts) {
        SCOPED_TRACE(c.text);
        std::string text(c.text);
        text.resize(511, ' ');
        KV_Time t(5L);
        EXPECT_TRUE(t.from_str(KV_String(text.c_str()), c.conv));

        // One long word: the field buffers must hold it without overflow.
        std::string word(c.text);
        word.resize(511, 'x');
        t = KV_Time(5L);
        t.from_str(KV_String(word.c_str()), c.conv);

        for (size_t size : {size_t(512), size_t(4000)}) {
            text.resize(size, ' ');
            word.resize(size, 'x');
            t = KV_Time(5L);
            EXPECT_FALSE(t.from_str(KV_String(text.c_str()), c.conv));
            EXPECT_FALSE(t.from_str(KV_String(word.c_str()), c.conv));
            EXPECT_EQ(t.impl(), 5);
        }
    }
}

TEST(KV_TimeIntTest, CountsMillisecondsSinceReset)
{
    KV_TimeInt timer;
    int64_t first = timer.diff();
    EXPECT_GE(first, 0);
    EXPECT_LT(first, 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_GE(timer.diff(), 30);
    timer.reset();
    EXPECT_LT(timer.diff(), 30);
}

} // namespace
