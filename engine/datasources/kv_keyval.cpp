#include "datasources/kv_keyval.h"

#include <charconv>

#include "foundation/kv_hex.h"

namespace {

// One "SET" line with every line break of key and value folded into '|'.
// CR LF is one break; a lone CR or LF is one too, so that no value can end
// the line early or glue its last CR to the line's own LF.
KV_String keyed_line(const KV_String& key, const KV_String& value)
{
    KV_String raw;
    if (!raw.append("SET ") || !raw.append(key.data(), key.length()) || !raw.append(" ") ||
        !raw.append(value.data(), value.length()))
        return KV_String();
    KV_String line;
    const uint32_t n = raw.length();
    for (uint32_t i = 0; i < n; ++i) {
        char c = raw.data(i);
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < n && raw.data(i + 1) == '\n')
                ++i;
            c = '|';
        }
        if (!line.append(&c, 1))
            return KV_String();
    }
    if (!line.append("\n"))
        return KV_String();
    return line;
}

// One pair of a stream value, read the way the "%x" conversion reads a text
// of these two characters: white space, then a sign, then hex digits as far
// as they go ("0g" is 0x00, "a-" 0x0A, "-1" 0xFF, "0x" 0x00). False when no
// digit can be read. Files written by hand or by older versions hold such
// pairs, and refusing one would throw away the whole node.
bool read_pair(char first, char second, uint8_t& out)
{
    const char pair[2] = {first, second};
    uint32_t i = 0;
    while (i < 2 && (pair[i] == ' ' || (pair[i] >= '\t' && pair[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < 2 && (pair[i] == '+' || pair[i] == '-'))
        negative = pair[i++] == '-';
    if (i == 2 || kv_hex_digit(pair[i]) < 0)
        return false;
    uint32_t v = 0;
    for (; i < 2 && kv_hex_digit(pair[i]) >= 0; ++i)
        v = v * 16 + static_cast<uint32_t>(kv_hex_digit(pair[i]));
    out = static_cast<uint8_t>(negative ? 0u - v : v);
    return true;
}

} // namespace

bool KV_KeyVal::save_var(KV_Storage& st, const KV_String& key, const KV_String& value)
{
    KV_String line = keyed_line(key, value);
    // An empty result means memory ran out: every real line holds "SET ".
    return !line.empty() && line.write_txt(st);
}

bool KV_KeyVal::save_var(KV_Storage& st, const KV_String& key, unsigned long value)
{
    KV_String text;
    return text.init_unsigned(value) && save_var(st, key, text);
}

bool KV_KeyVal::save_real(KV_Storage& st, const KV_String& key, double value)
{
    // to_chars never looks at the locale, so a comma-decimal user locale cannot
    // leak into the file. Fixed with precision 6 is exactly "%f".
    char buf[512];
    std::to_chars_result r =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6);
    if (r.ec != std::errc())
        return false;
    KV_String text;
    return text.append(buf, static_cast<uint32_t>(r.ptr - buf)) && save_var(st, key, text);
}

bool KV_KeyVal::save_strm(KV_Storage& st, const KV_String& key, const KV_Stream& value)
{
    static const char digits[] = "0123456789abcdef";
    KV_String text;
    const uint32_t n = value.length();
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t b = value.at(i);
        char pair[2] = {digits[b >> 4], digits[b & 0x0F]};
        if (!text.append(pair, 2))
            return false;
    }
    return save_var(st, key, text);
}

bool KV_KeyVal::save_bool(KV_Storage& st, const KV_String& key, bool value)
{
    return save_var(st, key, KV_String(value ? "YES" : "NO"));
}

bool KV_KeyVal::set_bool(const KV_String& value, bool& out)
{
    KV_String word = value.trim().upper();
    if (word == "YES") {
        out = true;
        return true;
    }
    if (word == "NO") {
        out = false;
        return true;
    }
    return false;
}

bool KV_KeyVal::set_strm(const KV_String& value, KV_Stream& out)
{
    const uint32_t n = value.length();
    if (n % 2 != 0)
        return false;
    for (uint32_t i = 0; i < n; i += 2) {
        uint8_t b = 0;
        if (!read_pair(value.data(i), value.data(i + 1), b) || !out.append(&b, 1))
            return false;
    }
    return true;
}
