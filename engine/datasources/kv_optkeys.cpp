#include "datasources/kv_optkeys.h"

namespace kv_optread {

bool dec(const KV_String& text, unsigned long max, unsigned long& out)
{
    const char c = text.data(0);
    if (c < '0' || c > '9')
        return false;
    const unsigned long n = text.as_unsigned();
    if (n > max)
        return false;
    out = n;
    return true;
}

bool sdec(const KV_String& text, long min, long max, long& out)
{
    const char c = text.data(0) == '-' ? text.data(1) : text.data(0);
    if (c < '0' || c > '9')
        return false;
    const long n = text.as_signed();
    if (n < min || n > max)
        return false;
    out = n;
    return true;
}

bool real(const KV_String& text, double& out)
{
    const char c = text.data(0) == '.' ? text.data(1) : text.data(0);
    if (c < '0' || c > '9')
        return false;
    out = text.as_real();
    return true;
}

} // namespace kv_optread
