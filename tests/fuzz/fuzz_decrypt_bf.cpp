// Scrambled passwords are read from the data-source file: decrypt_bf must be
// defined for any text (odd lengths, non-hex digits, bytes above 0x7F), and
// scrambling then unscrambling any text without NUL gives it back.
// The first input byte picks a key length; the key comes from the next bytes.
#include <cstdint>
#include <cstring>
#include <string>

#include "foundation/kv_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > 1u << 14)
        return 0;
    size_t klen = 1 + data[0] % 60;
    if (klen > size - 1)
        klen = size - 1;
    std::string key(reinterpret_cast<const char*>(data + 1), klen);
    key = key.c_str(); // the key is a NUL-terminated text
    if (key.empty())
        key = "k";
    const uint8_t* rest = data + 1 + klen;
    size_t rest_n = size - 1 - klen;

    KV_String text;
    if (!text.append(rest, static_cast<uint32_t>(rest_n)))
        return 0;

    KV_String clear = text.decrypt_bf(key.c_str());
    if (clear.length() > text.length() / 4 || std::strlen(clear.data()) != clear.length())
        __builtin_trap();

    KV_String plain(text.data()); // up to the first NUL
    KV_String enc = plain.encrypt_bf(key.c_str());
    if (!plain.empty() && enc.length() != (2 * plain.length() / 8 + 1) * 16)
        __builtin_trap();
    if (!(enc.decrypt_bf(key.c_str()) == plain))
        __builtin_trap();
    return 0;
}
