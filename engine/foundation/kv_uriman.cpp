#include "foundation/kv_uriman.h"

#include <cstring>

#include "foundation/kv_hex.h"
#include "foundation/kv_port.h"

namespace {

const char uri_blanks[] = " \t\r\n";

// Besides the control bytes, the blank, DEL and everything from 128 up: the
// characters that are unsafe in a URI or have a meaning of their own in it.
const char escaped_chars[] = "{}|\\^~[]`<>#%\"";

bool must_escape(unsigned char c)
{
    return c <= 32 || c >= 127 || std::strchr(escaped_chars, c) != nullptr;
}


bool all_digits(const KV_String& s)
{
    for (uint32_t i = 0; i < s.length(); ++i)
        if (s.data(i) < '0' || s.data(i) > '9')
            return false;
    return !s.empty();
}

} // namespace

void KV_UriMan::conv_prot(KV_String& scheme, uint16_t& port)
{
    const KV_String up = scheme.upper();
    if (up == "HTTP") {
        port = 80;
    } else if (up == "HTTPS") {
        scheme = "HTTP";
        port = 443;
    } else if (up == "FTP") {
        port = 21;
    } else if (up == "FTPS") {
        scheme = "FTP";
        port = 990;
    } else if (up == "SFTP") {
        port = 22;
    }
}

KV_String KV_UriMan::conv_to_hex(const KV_String& text)
{
    static const char digits[] = "0123456789ABCDEF";
    KV_String out;
    const uint32_t n = text.length();
    for (uint32_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text.data(i));
        // An escape that is there already stays as it is, so that escaped
        // text comes out unchanged; a '%' that begins none is escaped itself.
        if (c == '%' && n - i >= 3 && kv_hex_digit(text.data(i + 1)) >= 0 &&
            kv_hex_digit(text.data(i + 2)) >= 0) {
            if (!out.append(text.data() + i, 3))
                return KV_String();
            i += 2;
        } else if (must_escape(c)) {
            const char esc[3] = {'%', digits[c >> 4], digits[c & 0x0F]};
            if (!out.append(esc, 3))
                return KV_String();
        } else {
            const char ch = static_cast<char>(c);
            if (!out.append(&ch, 1))
                return KV_String();
        }
    }
    return out;
}

KV_String KV_UriMan::conv_to_ascii(const KV_String& text)
{
    KV_String out;
    const uint32_t n = text.length();
    uint32_t i = 0;
    while (i < n) {
        const char c = text.data(i);
        if (c == '%' && n - i >= 3) {
            const int high = kv_hex_digit(text.data(i + 1));
            const int low = kv_hex_digit(text.data(i + 2));
            if (high >= 0 && low >= 0) {
                const unsigned char b = static_cast<unsigned char>(high << 4 | low);
                if (b != 0 && !out.append(&b, 1))
                    return KV_String();
                i += 3;
                continue;
            }
        }
        const unsigned char b = static_cast<unsigned char>(c);
        // A raw NUL of the input is dropped for the same reason as "%00".
        if (b != 0 && !out.append(&b, 1))
            return KV_String();
        ++i;
    }
    return out;
}

void KV_UriMan::split_uri(const KV_String& uri, KV_String& scheme, KV_String& host, KV_String& path,
                          KV_String* port)
{
    KV_String rest = uri.trim(3, uri_blanks);
    uint32_t pos = 0;
    if (rest.contains(KV_String("://"), 0, &pos)) {
        scheme = rest.part(0, pos).trim(3, uri_blanks);
        rest = rest.part(pos + 3, rest.length()).trim(3, uri_blanks);
    }

    bool path_set = false;
    if (rest.contains('/', 0, &pos)) {
        host = rest.part(0, pos).trim(3, uri_blanks);
        path = rest.part(pos, rest.length()).trim(3, uri_blanks);
        path_set = true;
    } else {
        host = rest;
    }

    if (port && host.contains(':', 0, &pos) && pos != 0) {
        KV_String tail = host.part(pos + 1, host.length()).trim(3, uri_blanks);
        if (all_digits(tail)) {
            *port = tail;
            host = host.part(0, pos).trim(3, uri_blanks);
        }
    }

    host = conv_to_ascii(host);
    // A path that this address did not have is the caller's and stays as it was.
    if (path_set)
        path = conv_to_ascii(path);
}

KV_String KV_UriMan::build_uri(const KV_String& scheme, const KV_String& host,
                               const KV_String& path, const KV_String* port)
{
    KV_String uri = scheme.lower();
    uri += "://";
    uri += host;
    if (port && !port->empty()) {
        uri += ":";
        uri += *port;
    }
    uri += path;
    return uri;
}

bool KV_UriMan::cmp_uri(const KV_String& a, const KV_String& b, const KV_String& def_scheme)
{
    struct Parts
    {
        KV_String scheme, host, path, port;
    } p[2];
    const KV_String* uris[2] = {&a, &b};
    for (int k = 0; k < 2; ++k) {
        split_uri(*uris[k], p[k].scheme, p[k].host, p[k].path, &p[k].port);
        if (p[k].scheme.empty())
            p[k].scheme = def_scheme;
        uint16_t def_port = 0;
        conv_prot(p[k].scheme, def_port);
        if (p[k].port.empty())
            p[k].port = static_cast<KV_String>(KV_Port(def_port));
    }
    return p[0].scheme.compare(p[1].scheme, false) == 0 &&
           p[0].port.compare(p[1].port, false) == 0 && p[0].host.compare(p[1].host, false) == 0 &&
           p[0].path == p[1].path;
}
