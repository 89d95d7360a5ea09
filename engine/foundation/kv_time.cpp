#include "foundation/kv_time.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <locale.h>
#include <mutex>

namespace {

// The C library loads its one time-zone state on mktime and localtime_r
// under a lock of its own, which ThreadSanitizer cannot see; the engine's
// calls also take this one, so that the order the library keeps is visible.
std::mutex& tz_lock()
{
    static std::mutex lock;
    return lock;
}

// Values below one day are durations, not points in time.
constexpr int32_t one_day = 86400;

// Longest text from_str looks at. Server texts are untrusted; every field
// buffer below holds a whole text, so no field can overflow it.
constexpr uint32_t max_text = 512;

const char* const month_names[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int32_t clamp32(int64_t v)
{
    if (v < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    if (v > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(v);
}

// A calendar result that does not fit the stored 32 bits names a time we
// cannot keep: it becomes "no time" rather than a wrong one.
int32_t fit32(int64_t v)
{
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        return -1;
    return static_cast<int32_t>(v);
}

// Seconds of a calendar date and time, local (daylight saving left to the
// runtime) or UTC; -1 when month is 0, year is before 1900, or the runtime
// cannot convert it. Fields beyond 16 bits are refused too: parsed server
// fields arrive as 32-bit numbers and must not be truncated into a date.
int64_t calendar(uint32_t day, uint32_t month, uint32_t year, uint32_t hour, uint32_t minute,
                 uint32_t second, bool utc)
{
    constexpr uint32_t u16_max = 0xFFFF;
    if (day > u16_max || month > u16_max || year > u16_max || hour > u16_max || minute > u16_max ||
        second > u16_max)
        return -1;
    if (month == 0 || year < 1900)
        return -1;
    std::tm parts{};
    parts.tm_mday = static_cast<int>(day);
    parts.tm_mon = static_cast<int>(month) - 1;
    parts.tm_year = static_cast<int>(year) - 1900;
    parts.tm_hour = static_cast<int>(hour);
    parts.tm_min = static_cast<int>(minute);
    parts.tm_sec = static_cast<int>(second);
    parts.tm_isdst = -1;
    if (utc)
        return timegm(&parts);
    std::lock_guard<std::mutex> hold(tz_lock());
    return mktime(&parts);
}

bool ascii_equal_nocase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        unsigned char ca = static_cast<unsigned char>(*a);
        unsigned char cb = static_cast<unsigned char>(*b);
        if (ca >= 'A' && ca <= 'Z')
            ca = static_cast<unsigned char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z')
            cb = static_cast<unsigned char>(cb - 'A' + 'a');
        if (ca != cb)
            return false;
        if (ca == 0)
            return true;
    }
}

uint16_t month_number(const char* name)
{
    if (!name)
        return 0;
    for (uint16_t i = 0; i < 12; ++i)
        if (ascii_equal_nocase(name, month_names[i]))
            return static_cast<uint16_t>(i + 1);
    return 0;
}

// Day and month names of protocol dates are English whatever the program's
// language.
locale_t c_locale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

// Switches the calling thread to the C locale for the scope, so that server
// texts are scanned the same whatever language the program set.
class CLocaleScope
{
public:
    CLocaleScope() : loc(c_locale()), old(loc ? uselocale(loc) : nullptr) {}
    ~CLocaleScope()
    {
        if (loc)
            uselocale(old);
    }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t loc;
    locale_t old;
};

} // namespace

KV_Time::KV_Time(long value) : value(clamp32(value)) {}

KV_Time::KV_Time(uint16_t day, uint16_t month, uint16_t year, long seconds)
{
    int64_t midnight = calendar(day, month, year, 0, 0, 0, false);
    if (fit32(midnight) == -1)
        return;
    int64_t sum = 0;
    if (__builtin_add_overflow(midnight, static_cast<int64_t>(seconds), &sum))
        return;
    value = fit32(sum);
}

KV_Time::KV_Time(uint16_t day, uint16_t month, uint16_t year, uint16_t hour, uint16_t minute,
                 uint16_t second)
    : value(fit32(calendar(day, month, year, hour, minute, second, false)))
{
}

void KV_Time::now()
{
    value = clamp32(static_cast<int64_t>(time(nullptr)));
}

namespace {

bool utc_parts(int32_t value, struct tm& parts)
{
    if (value == -1)
        return false;
    time_t t = value;
    return gmtime_r(&t, &parts) != nullptr;
}

} // namespace

uint16_t KV_Time::second() const
{
    struct tm p;
    return utc_parts(value, p) ? static_cast<uint16_t>(p.tm_sec) : 0;
}

uint16_t KV_Time::minute() const
{
    struct tm p;
    return utc_parts(value, p) ? static_cast<uint16_t>(p.tm_min) : 0;
}

uint16_t KV_Time::hour() const
{
    struct tm p;
    return utc_parts(value, p) ? static_cast<uint16_t>(p.tm_hour) : 0;
}

uint16_t KV_Time::day() const
{
    struct tm p;
    return utc_parts(value, p) ? static_cast<uint16_t>(p.tm_mday) : 0;
}

uint16_t KV_Time::month_day() const
{
    return day();
}

uint16_t KV_Time::month() const
{
    struct tm p;
    return utc_parts(value, p) ? static_cast<uint16_t>(p.tm_mon + 1) : 0;
}

uint16_t KV_Time::year() const
{
    struct tm p;
    return utc_parts(value, p) ? static_cast<uint16_t>(p.tm_year + 1900) : 0;
}

uint16_t KV_Time::week_day() const
{
    struct tm p;
    return utc_parts(value, p) ? static_cast<uint16_t>(p.tm_wday) : 0;
}

KV_String KV_Time::as_str(const char* fmt) const
{
    if (!valid())
        return KV_String();
    if (value < one_day) {
        char text[48];
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", value / 3600, (value % 3600) / 60,
                      value % 60);
        return KV_String(text);
    }
    if (!fmt)
        return KV_String();
    size_t fmt_len = std::strlen(fmt);
    bool gmt = fmt_len >= 3 && std::strcmp(fmt + fmt_len - 3, "GMT") == 0;
    time_t t = value;
    struct tm parts;
    bool split;
    if (gmt) {
        split = gmtime_r(&t, &parts) != nullptr;
    } else {
        std::lock_guard<std::mutex> hold(tz_lock());
        split = localtime_r(&t, &parts) != nullptr;
    }
    if (!split)
        return KV_String();
    char text[4096];
    size_t n = 0;
    locale_t loc = gmt ? c_locale() : static_cast<locale_t>(nullptr);
    if (loc)
        n = strftime_l(text, sizeof text, fmt, &parts, loc);
    else
        n = std::strftime(text, sizeof text, fmt, &parts);
    // The display texts are kept to 127 characters.
    constexpr size_t max_display = 127;
    KV_String result;
    result.append(text, static_cast<uint32_t>(n < max_display ? n : max_display));
    return result;
}

uint16_t KV_Time::std_month(const char* name)
{
    return month_number(name);
}

namespace {

// The four Unix listing forms, first match wins. Sets `result` (possibly -1)
// and returns true when a form matched.
bool parse_month_first(const char* text, int64_t& result)
{
    char word[max_text];
    unsigned day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(text, "%511s %u %u %u:%u:%u", word, &day, &year, &hour, &minute, &second) ==
        6) {
        result = calendar(day, month_number(word), year, hour, minute, second, false);
        return true;
    }
    if (std::sscanf(text, "%511s %u %u %u:%u", word, &day, &year, &hour, &minute) == 5) {
        result = calendar(day, month_number(word), year, hour, minute, 0, false);
        return true;
    }
    if (std::sscanf(text, "%511s %u %u:%u", word, &day, &hour, &minute) == 4) {
        time_t now = time(nullptr);
        struct tm parts;
        uint32_t this_year =
            gmtime_r(&now, &parts) ? static_cast<uint32_t>(parts.tm_year + 1900) : 0;
        result = calendar(day, month_number(word), this_year, hour, minute, 0, false);
        return true;
    }
    if (std::sscanf(text, "%511s %u %u", word, &day, &year) == 3) {
        result = calendar(day, month_number(word), year, 0, 0, 0, false);
        return true;
    }
    return false;
}

} // namespace

bool KV_Time::from_str(const KV_String& text, KV_STR_TM_CONV conv)
{
    if (text.length() >= max_text)
        return false;
    // Stops at an embedded NUL, like every C text parse; the length bound
    // above holds for what is scanned.
    const char* s = text.data();
    char word[max_text];
    char word2[max_text];
    unsigned day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    int64_t result = -1;
    bool matched = false;
    CLocaleScope c_numbers;

    switch (conv) {
    case KV_STR_TM_GMT:
        // The zone word is not checked: HTTP dates are always GMT, and some
        // servers leave it out.
        if (std::sscanf(s, "%511s %u %511s %u %u:%u:%u GMT", word, &day, word2, &year, &hour,
                        &minute, &second) == 7) {
            matched = true;
            result = calendar(day, std_month(word2), year, hour, minute, second, true);
        }
        break;
    case KV_STR_TM_MONTH_FIRST:
        matched = parse_month_first(s, result);
        break;
    case KV_STR_TM_MDY_AMPM:
        if (std::sscanf(s, "%u-%u-%u %u:%u%511s", &month, &day, &year, &hour, &minute, word) == 6) {
            matched = true;
            if (year < 1900)
                year += year < 51 ? 2000 : 1900;
            // 12 AM is midnight and 12 PM is noon.
            if (ascii_equal_nocase(word, "PM") && hour < 12)
                hour += 12;
            else if (ascii_equal_nocase(word, "AM") && hour == 12)
                hour = 0;
            result = calendar(day, month, year, hour, minute, 0, false);
        } else {
            matched = parse_month_first(s, result);
        }
        break;
    case KV_STR_TM_DMY: {
        char mon[4] = {0, 0, 0, 0};
        if (std::sscanf(s, "%u-%3c-%u %u:%u", &day, mon, &year, &hour, &minute) == 5) {
            matched = true;
            result = calendar(day, std_month(mon), year, hour, minute, 0, false);
        }
        break;
    }
    }
    if (!matched)
        return false;
    value = fit32(result);
    return valid();
}

KV_Time& KV_Time::operator+=(const KV_Time& other)
{
    value = clamp32(static_cast<int64_t>(value) + other.value);
    return *this;
}

KV_Time& KV_Time::operator-=(const KV_Time& other)
{
    value = clamp32(static_cast<int64_t>(value) - other.value);
    return *this;
}

KV_Time KV_Time::operator+(const KV_Time& other) const
{
    KV_Time sum(*this);
    sum += other;
    return sum;
}

KV_Time KV_Time::operator-(const KV_Time& other) const
{
    KV_Time diff(*this);
    diff -= other;
    return diff;
}

bool KV_Time::write_bin(KV_Storage& st) const
{
    return st.write_le(value);
}

bool KV_Time::read_bin(KV_Storage& st)
{
    return st.read_le(value);
}

KV_TimeInt::KV_TimeInt()
{
    reset();
}

void KV_TimeInt::reset()
{
    start = std::chrono::steady_clock::now();
}

int64_t KV_TimeInt::diff() const
{
    auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}
