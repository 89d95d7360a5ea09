// Every text form of KV_Time::from_str over arbitrary bytes: server dates
// (HTTP headers, FTP listings) are untrusted input.
#include "foundation/kv_string.h"
#include "foundation/kv_time.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x10000)
        return 0;
    KV_String text;
    if (!text.append(data, static_cast<uint32_t>(size)))
        return 0;
    const KV_STR_TM_CONV forms[] = {KV_STR_TM_GMT, KV_STR_TM_MONTH_FIRST, KV_STR_TM_MDY_AMPM,
                                    KV_STR_TM_DMY};
    for (KV_STR_TM_CONV form : forms) {
        KV_Time t(123456L);
        bool ok = t.from_str(text, form);
        // A success always leaves a valid time; a long text never changes it.
        if (ok && !t.valid())
            __builtin_trap();
        if (text.length() >= 512 && (ok || t.impl() != 123456))
            __builtin_trap();
        // Whatever was parsed must also display.
        t.as_str("%a, %d %b %Y %H:%M:%S GMT");
        t.as_str("%c");
        t.year();
    }
    return 0;
}
