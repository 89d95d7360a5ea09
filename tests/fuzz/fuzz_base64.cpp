// Base64 text comes from HTTP headers and stored settings: decrypt_base64
// must be defined for any bytes (outside the alphabet, truncated groups, '='
// anywhere), and encoding then decoding gives the bytes back without NULs.
#include <cstdint>
#include <string>

#include "foundation/kv_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1u << 16)
        return 0;
    KV_String in;
    if (!in.append(data, static_cast<uint32_t>(size)))
        return 0;

    KV_String dec = in.decrypt_base64();
    if (dec.length() > (in.length() / 4 + 1) * 3 || dec.contains('\0'))
        __builtin_trap();

    KV_String enc = in.encrypt_base64();
    if (enc.length() != (in.length() + 2) / 3 * 4)
        __builtin_trap();
    std::string expect;
    for (size_t i = 0; i < size; ++i)
        if (data[i])
            expect += static_cast<char>(data[i]);
    KV_String back = enc.decrypt_base64();
    if (std::string(back.data(), back.length()) != expect)
        __builtin_trap();
    return 0;
}
