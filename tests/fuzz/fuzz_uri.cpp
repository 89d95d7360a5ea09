// Addresses from the command line, from the user and from HTTP redirects are
// untrusted: split_uri and the escape decoder over arbitrary bytes.
#include "foundation/kv_string.h"
#include "foundation/kv_uriman.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x10000)
        return 0;
    KV_String text;
    if (!text.append(data, static_cast<uint32_t>(size)))
        return 0;

    KV_String scheme, host, path, port;
    KV_UriMan::split_uri(text, scheme, host, path, &port);
    for (uint32_t i = 0; i < port.length(); ++i)
        if (port.data(i) < '0' || port.data(i) > '9')
            __builtin_trap();
    KV_String scheme2, host2, path2;
    KV_UriMan::split_uri(text, scheme2, host2, path2);
    KV_UriMan::build_uri(scheme, host, path, &port);

    // Decoding never grows a text. Escaping leaves nothing that needs an
    // escape but the escapes themselves, changes nothing the second time, and
    // decodes to what the text itself decodes to (the text itself, when it
    // held no '%' and no NUL).
    const KV_String plain = KV_UriMan::conv_to_ascii(text);
    if (plain.length() > text.length())
        __builtin_trap();
    const KV_String hex = KV_UriMan::conv_to_hex(text);
    for (uint32_t i = 0; i < hex.length(); ++i) {
        const unsigned char c = static_cast<unsigned char>(hex.data(i));
        if (c == '%') {
            if (i + 2 >= hex.length() ||
                !std::isxdigit(static_cast<unsigned char>(hex.data(i + 1))) ||
                !std::isxdigit(static_cast<unsigned char>(hex.data(i + 2))))
                __builtin_trap();
        } else if (c <= 32 || c >= 127 || std::strchr("{}|\\^~[]`<>#\"", c)) {
            __builtin_trap();
        }
    }
    if (KV_UriMan::conv_to_hex(hex) != hex || KV_UriMan::conv_to_ascii(hex) != plain)
        __builtin_trap();
    if (!text.contains('%') && !text.contains('\0') && plain != text)
        __builtin_trap();

    if (!KV_UriMan::cmp_uri(text, text, "http"))
        __builtin_trap();
    return 0;
}
