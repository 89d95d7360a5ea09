// Server addresses of the form scheme://host[:port]/path, as users type them,
// as the program gets them on its command line and as the HTTP client follows
// them: split and build, compare, default ports, %XX escapes.
//
// Text is UTF-8 bytes. Escaping works byte by byte: a byte is escaped as it is
// (the UTF-8 bytes C3 A9 of an e-acute become "%C3%A9"), never re-encoded, and
// unescaping gives the same bytes back.
//
// Threads: static operations without state; any thread.
#pragma once

#include <cstdint>

#include "foundation/kv_string.h"

class KV_UriMan
{
public:
    // The scheme's default port, compared ignoring ASCII case:
    //   HTTP 80, HTTPS 443 (scheme := "HTTP"), FTP 21, FTPS 990 (scheme :=
    //   "FTP"), SFTP 22.
    // A secure scheme is reduced to its plain name; the plain ones keep their
    // text as given. For any other scheme neither output changes.
    static void conv_prot(KV_String& scheme, uint16_t& port);

    // The text with %XX escapes (upper-case hex) for the bytes 0 to 32, 127,
    // 128 to 255 and the characters { } | \ ^ ~ [ ] ` < > # % ". A '%'
    // followed by two hex digits is an escape already and stays as it is, so
    // an escaped text comes out unchanged; any other '%' is escaped ("100%
    // sure" gives "100%25%20sure"). Nothing in the result needs escaping.
    static KV_String conv_to_hex(const KV_String& text);

    // The text with every '%' followed by two hex digits (either case)
    // replaced by that byte. A '%' not followed by two hex digits (a partial
    // or malformed escape, or the end of the text) stays as it is, and so do
    // the characters after it. "%00" is dropped: a NUL would cut the name short
    // wherever it is used as a C string.
    static KV_String conv_to_ascii(const KV_String& text);

    // Splits the address (trimmed of blanks, tabs, CR and LF) into its parts.
    // scheme: the text before "://", when there is one. host: the text up to
    // the first '/' after that (or all of it). path: from that '/' on, leading
    // '/' included. port (when asked for): the digits after the first ':' of
    // the host, taken off the host, when they are all decimal digits and the
    // ':' is not the host's first character. Each part is trimmed; host and
    // path are unescaped with conv_to_ascii. An output whose part is absent is
    // left as it was (callers pass empty strings).
    static void split_uri(const KV_String& uri, KV_String& scheme, KV_String& host, KV_String& path,
                          KV_String* port = nullptr);

    // scheme (lower-cased) "://" host [":" port] path. The port only when given
    // and not empty; the path carries its own leading '/'. Nothing is escaped.
    static KV_String build_uri(const KV_String& scheme, const KV_String& host,
                               const KV_String& path, const KV_String* port = nullptr);

    // True when both addresses name the same resource: an address without a
    // scheme takes def_scheme, one without a port its scheme's default port
    // (0 for a scheme not known to conv_prot), a secure scheme counts as its
    // plain one with its own default port; schemes, ports and hosts are
    // compared ignoring ASCII case, paths exactly.
    static bool cmp_uri(const KV_String& a, const KV_String& b, const KV_String& def_scheme);
};
