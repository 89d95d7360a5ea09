#include "datasources/kv_httpver.h"

namespace {

// The leading base-10 number of text as strtol reads it; 0 when there is none
// or when it does not fit 32 unsigned bits (the text may come from a file).
uint32_t ver_part(const KV_String& text)
{
    long n = text.as_signed();
    if (n < 0 || static_cast<unsigned long>(n) > UINT32_MAX)
        return 0;
    return static_cast<uint32_t>(n);
}

} // namespace

KV_HttpVer::KV_HttpVer(const KV_String& text)
{
    uint32_t dot = 0;
    if (!text.contains('.', 0, &dot))
        return;
    major_ = ver_part(text.part(0, dot));
    minor_ = ver_part(text.part(dot + 1, text.length()));
}

KV_HttpVer::operator KV_String() const
{
    return KV_String::format_impl("%u.%u", major_, minor_);
}
