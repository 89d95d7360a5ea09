// The keyed value readers over arbitrary text (a hand-edited or damaged
// data-source file), checked against the C library's own conversion, and the
// writer over arbitrary values: whatever a value holds, it must stay on its
// one line.
#include "datasources/kv_keyval.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

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

    // Every pair is read as the C library's "%x" reads it; the first pair
    // from which it reads nothing stops the reading, keeping the bytes before.
    KV_Stream bytes;
    const bool accepted = KV_KeyVal::set_strm(text, bytes);
    const uint32_t n = text.length();
    if (bytes.length() * 2 > n || (accepted && bytes.length() * 2 != n))
        __builtin_trap();
    if (n % 2 == 0) {
        for (uint32_t i = 0; i <= bytes.length() && 2 * i < n; ++i) {
            const char pair[3] = {text.data(2 * i), text.data(2 * i + 1), '\0'};
            unsigned int want = 0;
            const bool readable = std::sscanf(pair, "%x", &want) == 1;
            if (i < bytes.length() && (!readable || bytes.at(i) != static_cast<uint8_t>(want)))
                __builtin_trap();
            if (i == bytes.length() && readable)
                __builtin_trap(); // reading stopped at a pair it could read
        }
    } else if (accepted || bytes.length() != 0) {
        __builtin_trap();
    }

    KV_Stream line;
    if (!KV_KeyVal::save_var(line, "K", text))
        __builtin_trap();
    const unsigned char* p = line;
    const uint32_t len = line.length();
    if (len < 7 || !p || p[len - 1] != '\n' || std::memcmp(p, "SET K ", 6) != 0)
        __builtin_trap();
    for (uint32_t i = 0; i + 1 < len; ++i)
        if (p[i] == '\n' || p[i] == '\r')
            __builtin_trap();
    return 0;
}
