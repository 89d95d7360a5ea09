// The keyed value readers over arbitrary text (a hand-edited or damaged
// data-source file), and the writer over arbitrary values: whatever a value
// holds, it must stay on its one line.
#include "datasources/kv_keyval.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <strings.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x10000)
        return 0;
    KV_String text;
    if (!text.append(data, static_cast<uint32_t>(size)))
        return 0;

    bool flag = true;
    if (!KV_KeyVal::set_bool(text, flag) && !flag)
        __builtin_trap(); // a refused text must leave the flag alone

    KV_Stream bytes;
    if (KV_KeyVal::set_strm(text, bytes)) {
        // An accepted text is exactly the writer's form of its bytes, give or
        // take letter case.
        KV_Stream line;
        if (!KV_KeyVal::save_strm(line, "K", bytes))
            __builtin_trap();
        const unsigned char* p = line;
        if (line.length() != 7 + text.length() ||
            (text.length() &&
             strncasecmp(reinterpret_cast<const char*>(p) + 6, text.data(), text.length()) != 0))
            __builtin_trap();
    } else if (bytes.length() * 2 > text.length()) {
        __builtin_trap();
    }

    KV_Stream line;
    if (!KV_KeyVal::save_var(line, "K", text))
        __builtin_trap();
    const unsigned char* p = line;
    const uint32_t n = line.length();
    if (n < 7 || !p || p[n - 1] != '\n' || std::memcmp(p, "SET K ", 6) != 0)
        __builtin_trap();
    for (uint32_t i = 0; i + 1 < n; ++i)
        if (p[i] == '\n' || p[i] == '\r')
            __builtin_trap();
    return 0;
}
