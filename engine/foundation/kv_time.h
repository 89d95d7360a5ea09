// Points in time and the millisecond stopwatch.
//
// KV_Time is a bare signed 32-bit count of seconds since 1970-01-01 00:00:00
// UTC: the file times of listings, request start times, log times. It is
// stored as exactly those 4 bytes, so it stays 32-bit here although time_t is
// 64-bit: conversions from wider values clamp, dates outside the 32-bit range
// are refused (invalid). A value below one day also serves as a duration.
//
// KV_TimeInt measures elapsed milliseconds on a monotonic clock, so transfer
// rates and time-outs are not upset when the wall clock is changed.
//
// Threads: both are plain values; one thread at a time per object. Every
// conversion uses the re-entrant runtime calls and may run on any thread.
#ifndef KV_FOUNDATION_KV_TIME_H
#define KV_FOUNDATION_KV_TIME_H

#include <chrono>
#include <cstdint>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

// The text form that KV_Time::from_str expects.
enum KV_STR_TM_CONV : uint32_t {
    // HTTP date: "Sun, 06 Nov 1994 08:49:37 GMT", read as UTC.
    KV_STR_TM_GMT = 0,
    // Unix listing: "Nov 6 1994 08:49:37", "Nov 6 1994 08:49", "Nov 6 08:49"
    // (current year), "Nov 6 1994"; local time.
    KV_STR_TM_MONTH_FIRST = 1,
    // DOS listing: "11-06-94 08:49PM" (month-day-year, two-digit years
    // completed); falls back to KV_STR_TM_MONTH_FIRST; local time.
    KV_STR_TM_MDY_AMPM = 2,
    // "06-Nov-1994 08:49"; local time.
    KV_STR_TM_DMY = 3,
};

class KV_Time
{
public:
    // No time (invalid).
    KV_Time() = default;
    // The raw count of seconds; a value outside 32 bits is clamped to the
    // nearest 32-bit value.
    KV_Time(long value);
    // Midnight of that local date plus `seconds`. Invalid when month is 0,
    // year is below 1900, the runtime cannot convert the date, or the result
    // does not fit 32 bits. Days, months and hours out of their range roll
    // over into the next unit, as the runtime's mktime does.
    KV_Time(uint16_t day, uint16_t month, uint16_t year, long seconds);
    // That local date and time; invalid as above.
    KV_Time(uint16_t day, uint16_t month, uint16_t year, uint16_t hour, uint16_t minute,
            uint16_t second);

    // Sets the time to now (clamped to 32 bits).
    void now();
    bool valid() const { return value != -1; }
    int32_t impl() const { return value; }

    // Fields of the time broken down as UTC; 0 when the time is invalid.
    uint16_t second() const;
    uint16_t minute() const;
    uint16_t hour() const;
    uint16_t day() const;       // day of the month, 1 to 31
    uint16_t month_day() const; // same as day()
    uint16_t month() const;     // 1 to 12
    uint16_t year() const;      // four digits
    uint16_t week_day() const;  // 0 Sunday to 6 Saturday

    // Empty for an invalid time. A value below 86400 is a duration and gives
    // "HH:MM:SS" whatever `fmt` is. Otherwise the time is formatted with
    // strftime and `fmt` as local time, at most 127 characters (a longer
    // result is cut). A `fmt` that ends in "GMT" labels its result as UTC, so
    // the time is then broken down as UTC with English day and month names
    // (the HTTP date form "%a, %d %b %Y %H:%M:%S GMT").
    KV_String as_str(const char* fmt) const;

    // Parses a date text of the given form (see KV_STR_TM_CONV). Texts of 512
    // characters or more are refused, leaving the time unchanged. When a form
    // matches, the time becomes the date it names, which may be invalid (an
    // unknown month name, a year before 1900, a field too large); the result
    // is true only when a form matched and the time is valid.
    bool from_str(const KV_String& text, KV_STR_TM_CONV conv);

    // Arithmetic on the counts of seconds; results outside 32 bits are
    // clamped. An invalid time counts as -1.
    KV_Time& operator+=(const KV_Time& other);
    KV_Time& operator-=(const KV_Time& other);
    KV_Time operator+(const KV_Time& other) const;
    KV_Time operator-(const KV_Time& other) const;

    // Signed comparison of the counts; an invalid time compares as -1.
    friend bool operator==(const KV_Time& a, const KV_Time& b) { return a.value == b.value; }
    friend bool operator!=(const KV_Time& a, const KV_Time& b) { return a.value != b.value; }
    friend bool operator<(const KV_Time& a, const KV_Time& b) { return a.value < b.value; }
    friend bool operator<=(const KV_Time& a, const KV_Time& b) { return a.value <= b.value; }
    friend bool operator>(const KV_Time& a, const KV_Time& b) { return a.value > b.value; }
    friend bool operator>=(const KV_Time& a, const KV_Time& b) { return a.value >= b.value; }

    // Binary form: the 4 bytes of the count, little-endian, in one write or
    // read. True when all 4 bytes moved; a short read leaves the time as it
    // was.
    bool write_bin(KV_Storage& st) const;
    bool read_bin(KV_Storage& st);
    static constexpr uint32_t size() { return 4; }

protected:
    // 1 to 12 for "Jan" to "Dec" compared ignoring ASCII case; 0 for anything
    // else (including full names such as "January" and null).
    static uint16_t std_month(const char* name);

private:
    int32_t value = -1;
};

static_assert(sizeof(KV_Time) == 4, "KV_Time is stored as its 4 bytes");

// Millisecond stopwatch on a monotonic clock; starts at construction.
class KV_TimeInt
{
public:
    KV_TimeInt();
    // Restarts the stopwatch.
    void reset();
    // Milliseconds elapsed since construction or the last reset(); never
    // negative.
    int64_t diff() const;

private:
    std::chrono::steady_clock::time_point start;
};

#endif
