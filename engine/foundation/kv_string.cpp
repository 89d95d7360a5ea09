#include "foundation/kv_string.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

#include "foundation/kv_bytebuf.h"
#include "foundation/kv_le.h"
#include "foundation/kv_storage.h"
#include "foundation/kvtl.h"

namespace {

const char empty_text[1] = {0};
const char blanks[] = " \t\r\n";
const char base64_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The C locale, for number formatting and parsing independent of the
// process's locale. Built once; kept for the life of the process.
locale_t c_locale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

// Switches the calling thread to the C locale for the life of the object.
class CLocaleScope
{
public:
    CLocaleScope() : old(c_locale() ? uselocale(c_locale()) : static_cast<locale_t>(nullptr)) {}
    ~CLocaleScope()
    {
        if (old)
            uselocale(old);
    }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t old;
};

inline unsigned char ascii_lower(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

inline unsigned char ascii_upper(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

// Word characters of containsw: ASCII letters and digits, '_', and every byte
// of 0x80 and above (UTF-8 sequences belong to words).
inline bool word_char(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c >= 0x80;
}

bool write_all(KV_Storage& st, const unsigned char* src, uint32_t n)
{
    return st.write(src, n) == n;
}

} // namespace

// ---------------------------------------------------------------------------
// Construction and assignment

KV_String::KV_String(const KV_String& other)
{
    if (other.len) {
        buf = static_cast<char*>(std::malloc(size_t(other.len) + 1));
        if (buf) {
            std::memcpy(buf, other.buf, size_t(other.len) + 1);
            len = cap = other.len;
        }
    }
}

KV_String::KV_String(KV_String&& other) noexcept : buf(other.buf), len(other.len), cap(other.cap)
{
    other.buf = nullptr;
    other.len = other.cap = 0;
}

KV_String::KV_String(const char* text)
{
    init(text);
}

KV_String::KV_String(char c)
{
    if (c)
        append(&c, 1);
}

KV_String::~KV_String()
{
    std::free(buf);
}

KV_String& KV_String::operator=(const char* text)
{
    init(text);
    return *this;
}

KV_String& KV_String::operator=(const KV_String& other)
{
    if (&other == this)
        return *this;
    if (!other.len) {
        clear();
        return *this;
    }
    char* p = static_cast<char*>(std::malloc(size_t(other.len) + 1));
    if (p)
        std::memcpy(p, other.buf, size_t(other.len) + 1);
    std::free(buf);
    buf = p;
    len = cap = p ? other.len : 0;
    return *this;
}

KV_String& KV_String::operator=(KV_String&& other) noexcept
{
    if (&other != this) {
        std::free(buf);
        buf = other.buf;
        len = other.len;
        cap = other.cap;
        other.buf = nullptr;
        other.len = other.cap = 0;
    }
    return *this;
}

bool KV_String::init(const char* text)
{
    if (text && text == buf)
        return true;
    size_t n = text ? std::strlen(text) : 0;
    char* p = nullptr;
    if (n) {
        if (n > UINT32_MAX || !(p = static_cast<char*>(std::malloc(n + 1)))) {
            clear();
            return false;
        }
        std::memcpy(p, text, n + 1); // text may lie inside buf: copy before freeing
    }
    std::free(buf);
    buf = p;
    len = cap = static_cast<uint32_t>(n);
    return true;
}

bool KV_String::init_std(const char* text)
{
    return init(text);
}

bool KV_String::init_signed(long value)
{
    return format("%ld", value);
}

bool KV_String::init_unsigned(unsigned long value)
{
    return format("%lu", value);
}

void KV_String::init_ncpy(char* block)
{
    std::free(buf);
    buf = nullptr;
    len = cap = 0;
    if (!block)
        return;
    size_t n = std::strlen(block);
    if (n == 0 || n > UINT32_MAX) {
        std::free(block);
        return;
    }
    buf = block;
    len = cap = static_cast<uint32_t>(n);
}

// ---------------------------------------------------------------------------
// Appending

bool KV_String::append(const unsigned char* bytes, uint32_t n)
{
    if (!bytes || n == 0)
        return true;
    if (n > UINT32_MAX - len) // the length must stay a u32
        return false;
    const uint32_t need = len + n;
    if (need <= cap) {
        // bytes may lie inside buf.
        std::memmove(buf + len, bytes, n);
        buf[need] = 0;
        len = need;
        return true;
    }
    // Half as much again as the block held, so that a string built piece by
    // piece is copied a bounded number of times per byte. A first append
    // takes exactly what it needs: most strings are appended to once.
    uint32_t grown = cap + cap / 2;
    if (grown < cap || grown < need)
        grown = need;
    char* p = static_cast<char*>(std::malloc(size_t(grown) + 1));
    if (!p && grown > need) {
        grown = need;
        p = static_cast<char*>(std::malloc(size_t(grown) + 1));
    }
    if (!p)
        return false;
    if (len)
        std::memcpy(p, buf, len);
    std::memcpy(p + len, bytes, n); // bytes may lie inside buf: copied before the free
    p[need] = 0;
    std::free(buf);
    buf = p;
    len = need;
    cap = grown;
    return true;
}

bool KV_String::append(const char* text, uint32_t n)
{
    if (!text || n == 0)
        return true;
    // Never read past the text's terminator, whatever n the caller passes.
    size_t avail = strnlen(text, n);
    return append(reinterpret_cast<const unsigned char*>(text), static_cast<uint32_t>(avail));
}

bool KV_String::append(const char* text)
{
    if (!text)
        return true;
    size_t n = std::strlen(text);
    if (n > UINT32_MAX)
        return false;
    return append(reinterpret_cast<const unsigned char*>(text), static_cast<uint32_t>(n));
}

KV_String& KV_String::operator+=(char c)
{
    if (c)
        append(&c, 1);
    return *this;
}

KV_String& KV_String::operator+=(const char* text)
{
    append(text);
    return *this;
}

KV_String& KV_String::operator+=(const KV_String& other)
{
    append(reinterpret_cast<const unsigned char*>(other.buf), other.len);
    return *this;
}

KV_String KV_String::operator+(const char* text) const
{
    KV_String r(*this);
    r.append(text);
    return r;
}

KV_String KV_String::operator+(const KV_String& other) const
{
    KV_String r(*this);
    r += other;
    return r;
}

// ---------------------------------------------------------------------------
// Access

const char* KV_String::data() const
{
    return buf ? buf : empty_text;
}

char KV_String::data(uint32_t i) const
{
    return i < len ? buf[i] : 0;
}

void KV_String::clear()
{
    std::free(buf);
    buf = nullptr;
    len = cap = 0;
}

// ---------------------------------------------------------------------------
// Comparison

bool KV_String::operator==(const char* text) const
{
    return std::strcmp(data(), text ? text : empty_text) == 0;
}
bool KV_String::operator==(const KV_String& other) const
{
    return std::strcmp(data(), other.data()) == 0;
}
bool KV_String::operator!=(const char* text) const
{
    return !(*this == text);
}
bool KV_String::operator!=(const KV_String& other) const
{
    return !(*this == other);
}
bool KV_String::operator<(const char* text) const
{
    return std::strcmp(data(), text ? text : empty_text) < 0;
}
bool KV_String::operator<(const KV_String& other) const
{
    return std::strcmp(data(), other.data()) < 0;
}
bool KV_String::operator<=(const char* text) const
{
    return std::strcmp(data(), text ? text : empty_text) <= 0;
}
bool KV_String::operator<=(const KV_String& other) const
{
    return std::strcmp(data(), other.data()) <= 0;
}
bool KV_String::operator>(const char* text) const
{
    return std::strcmp(data(), text ? text : empty_text) > 0;
}
bool KV_String::operator>(const KV_String& other) const
{
    return std::strcmp(data(), other.data()) > 0;
}
bool KV_String::operator>=(const char* text) const
{
    return std::strcmp(data(), text ? text : empty_text) >= 0;
}
bool KV_String::operator>=(const KV_String& other) const
{
    return std::strcmp(data(), other.data()) >= 0;
}

int KV_String::compare(const KV_String& other, bool case_sens) const
{
    if (case_sens)
        return std::strcmp(data(), other.data());
    // _stricmp order: both sides folded to lower case (ASCII letters only).
    const unsigned char* a = reinterpret_cast<const unsigned char*>(data());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(other.data());
    for (;; ++a, ++b) {
        int ca = ascii_lower(*a), cb = ascii_lower(*b);
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}

// ---------------------------------------------------------------------------
// Search

bool KV_String::contains(char c, uint32_t from, uint32_t* pos) const
{
    if (from >= len) // also covers the empty string and a from beyond the text
        return false;
    const void* hit = std::memchr(buf + from, c, len - from);
    if (!hit)
        return false;
    if (pos)
        *pos = static_cast<uint32_t>(static_cast<const char*>(hit) - buf);
    return true;
}

bool KV_String::contains(const KV_String& sub, uint32_t from, uint32_t* pos) const
{
    if (!len || !sub.len || from > len || sub.len > len - from)
        return false;
    const void* hit = memmem(buf + from, len - from, sub.buf, sub.len);
    if (!hit)
        return false;
    if (pos)
        *pos = static_cast<uint32_t>(static_cast<const char*>(hit) - buf);
    return true;
}

bool KV_String::containsw(const KV_String& word, bool case_sens) const
{
    uint32_t start = 0;
    for (uint64_t i = 0; i <= len; ++i) {
        if (i < len && word_char(static_cast<unsigned char>(buf[i])))
            continue;
        KV_String piece = part(start, static_cast<uint32_t>(i)).trim(3, blanks);
        if (!piece.empty() && piece.compare(word, case_sens) == 0)
            return true;
        start = static_cast<uint32_t>(i + 1);
    }
    return false;
}

// ---------------------------------------------------------------------------
// Pieces and splitting

KV_String KV_String::part(uint32_t from, uint32_t to) const
{
    KV_String r;
    if (to > len)
        to = len;
    if (from >= len || to < from)
        return r;
    r.append(reinterpret_cast<const unsigned char*>(buf + from), to - from);
    return r;
}

bool KV_String::parse(KVTL::KV_ListVal<KV_String>& list, const KV_String& sep, uint8_t trim_flags,
                      const char* trim_chars) const
{
    uint32_t cur = 0, found = 0;
    while (contains(sep, cur, &found)) {
        KV_String piece = part(cur, found).trim(trim_flags, trim_chars);
        if (!piece.empty() && !list.add(piece))
            return false;
        cur = found + sep.len; // found + sep.len <= len: no overflow
    }
    KV_String piece = part(cur, len).trim(trim_flags, trim_chars);
    if (!piece.empty() && !list.add(piece))
        return false;
    return true;
}

// ---------------------------------------------------------------------------
// Transformations

KV_String KV_String::trim(uint8_t flags, const char* chars) const
{
    const char* set = chars ? chars : blanks;
    auto member = [set](char c) { return c == 0 || std::strchr(set, c) != nullptr; };
    uint32_t b = 0, e = len;
    if (flags & 1)
        while (b < e && member(buf[b]))
            ++b;
    if (flags & 2)
        while (e > b && member(buf[e - 1]))
            --e;
    if (b == 0 && e == len)
        return *this;
    return part(b, e);
}

KV_String KV_String::upper() const
{
    // Like the original's copy-then-_strupr: the result is the text up to the
    // first NUL.
    KV_String r(data());
    for (uint32_t i = 0; i < r.len; ++i)
        r.buf[i] = static_cast<char>(ascii_upper(static_cast<unsigned char>(r.buf[i])));
    return r;
}

KV_String KV_String::lower() const
{
    KV_String r(data());
    for (uint32_t i = 0; i < r.len; ++i)
        r.buf[i] = static_cast<char>(ascii_lower(static_cast<unsigned char>(r.buf[i])));
    return r;
}

KV_String KV_String::convert(const KV_String& chars, char c) const
{
    KV_String r(*this);
    if (!chars.len)
        return r;
    for (uint32_t i = 0; i < r.len; ++i)
        if (std::memchr(chars.buf, r.buf[i], chars.len))
            r.buf[i] = c;
    return r;
}

void KV_String::adopt(char* block, uint32_t n)
{
    std::free(buf);
    buf = nullptr;
    len = cap = 0;
    if (!block || n == 0) {
        std::free(block);
        return;
    }
    block[n] = 0;
    buf = block;
    len = cap = n;
}

// Replacement keeps the Part's rule -- search again from the start after
// every replacement, so text made by a replacement is itself replaced ('aab'
// with 'ab' -> 'b' gives 'b') -- wherever that rule ends. It does not end in
// two cases, and there the result is the single left-to-right pass that goes
// on searching after each inserted text:
// - the replacement contains the searched text ('a' -> 'aa'): every insertion
//   would be found again;
// - rarer pairs whose replacements keep making new occurrences around them
//   ('ab' -> 'bbaa' on 'aab'): recognised when the restart rule has moved far
//   more characters than any ordinary use could (budget below).
//
// The restart rule is run without rescanning: `out` holds the text already
// searched (it contains no occurrence), `in` the rest, reversed, so that a
// replacement can be pushed back onto its front. Moving one character at a
// time from in to out and testing whether out now ends with the searched text
// finds exactly the leftmost occurrence of the working text.
KV_String KV_String::replace(const KV_String& old_text, const KV_String& new_text) const
{
    if (!old_text.len || old_text == new_text || !len)
        return *this;

    const uint32_t olen = old_text.len, nlen = new_text.len;
    const char* o = old_text.buf;

    auto finish = [](const std::string& text) {
        KV_String r;
        if (text.empty() || text.size() > UINT32_MAX)
            return r;
        char* p = static_cast<char*>(std::malloc(text.size() + 1));
        if (p) {
            std::memcpy(p, text.data(), text.size());
            r.adopt(p, static_cast<uint32_t>(text.size()));
        }
        return r;
    };

    auto single_pass = [&]() -> KV_String {
        try {
            std::string r;
            uint32_t i = 0;
            while (i < len) {
                if (olen <= len - i && std::memcmp(buf + i, o, olen) == 0) {
                    r.append(new_text.data(), nlen);
                    i += olen;
                } else {
                    r.push_back(buf[i++]);
                }
            }
            return finish(r);
        } catch (...) {
            return KV_String(*this);
        }
    };

    if (new_text.contains(old_text))
        return single_pass();

    try {
        const uint64_t budget = 64 * (uint64_t(len) + nlen) + (uint64_t(1) << 20);
        uint64_t moved = 0;
        std::string out, in(buf, len);
        std::reverse(in.begin(), in.end());
        out.reserve(len);
        std::string new_rev(new_text.data(), nlen);
        std::reverse(new_rev.begin(), new_rev.end());
        while (!in.empty()) {
            if (++moved > budget || out.size() + in.size() > UINT32_MAX)
                return single_pass();
            out.push_back(in.back());
            in.pop_back();
            if (out.size() >= olen && std::memcmp(out.data() + out.size() - olen, o, olen) == 0) {
                out.resize(out.size() - olen);
                in += new_rev;
            }
        }
        return finish(out);
    } catch (...) {
        return KV_String(*this);
    }
}

KV_String KV_String::fname() const
{
    static const char bad[] = "\\/:*?\"<>|";
    KV_String r;
    KV_ByteBuf b;
    for (uint32_t i = 0; i < len; ++i)
        if ((buf[i] == 0 || !std::strchr(bad, buf[i])) &&
            !b.put(static_cast<unsigned char>(buf[i])))
            return r;
    uint32_t n = b.size();
    r.adopt(reinterpret_cast<char*>(b.release()), n);
    return r.trim(3, blanks);
}

KV_String KV_String::encrypt_base64() const
{
    KV_String r;
    if (!len)
        return r;
    uint64_t out_len = (uint64_t(len) + 2) / 3 * 4;
    if (out_len > UINT32_MAX)
        return r;
    char* p = static_cast<char*>(std::malloc(out_len + 1));
    if (!p)
        return r;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(buf);
    char* q = p;
    uint32_t i = 0;
    for (; len - i >= 3; i += 3) {
        uint32_t v = (uint32_t(s[i]) << 16) | (uint32_t(s[i + 1]) << 8) | s[i + 2];
        *q++ = base64_alphabet[(v >> 18) & 63];
        *q++ = base64_alphabet[(v >> 12) & 63];
        *q++ = base64_alphabet[(v >> 6) & 63];
        *q++ = base64_alphabet[v & 63];
    }
    if (len - i == 1) {
        uint32_t v = uint32_t(s[i]) << 16;
        *q++ = base64_alphabet[(v >> 18) & 63];
        *q++ = base64_alphabet[(v >> 12) & 63];
        *q++ = '=';
        *q++ = '=';
    } else if (len - i == 2) {
        uint32_t v = (uint32_t(s[i]) << 16) | (uint32_t(s[i + 1]) << 8);
        *q++ = base64_alphabet[(v >> 18) & 63];
        *q++ = base64_alphabet[(v >> 12) & 63];
        *q++ = base64_alphabet[(v >> 6) & 63];
        *q++ = '=';
    }
    r.adopt(p, static_cast<uint32_t>(q - p));
    return r;
}

// Groups of four characters. The Part leaves input outside the alphabet
// undefined (the original indexed its table with a failed lookup); here such a
// character counts as the value 0, and a last group of fewer than four
// characters is read as if the missing ones were '=' (a lone character carries
// no whole byte and gives nothing). A '=' as third or fourth character ends the
// decoding; decoded NUL bytes are dropped.
KV_String KV_String::decrypt_base64() const
{
    KV_String r;
    if (!len)
        return r;
    auto value = [](char c) -> uint32_t {
        const char* p = c ? std::strchr(base64_alphabet, c) : nullptr;
        return p ? static_cast<uint32_t>(p - base64_alphabet) : 0;
    };
    KV_ByteBuf b;
    auto keep = [&b](uint32_t byte) {
        return byte == 0 || b.put(static_cast<unsigned char>(byte));
    };
    for (uint32_t i = 0; i < len; i += 4) {
        uint32_t n = len - i < 4 ? len - i : 4;
        if (n < 2)
            break;
        char c3 = n > 2 ? buf[i + 2] : '=';
        char c4 = n > 3 ? buf[i + 3] : '=';
        uint32_t v = (value(buf[i]) << 18) | (value(buf[i + 1]) << 12);
        if (!keep((v >> 16) & 0xFF))
            break;
        if (c3 == '=')
            break;
        v |= value(c3) << 6;
        if (!keep((v >> 8) & 0xFF))
            break;
        if (c4 == '=')
            break;
        v |= value(c4);
        if (!keep(v & 0xFF))
            break;
    }
    uint32_t n = b.size();
    r.adopt(reinterpret_cast<char*>(b.release()), n);
    return r;
}

// ---------------------------------------------------------------------------
// Numbers

long KV_String::as_signed() const
{
    return std::strtol(data(), nullptr, 10);
}

unsigned long KV_String::as_unsigned() const
{
    return std::strtoul(data(), nullptr, 10);
}

double KV_String::as_real() const
{
    // Numbers in files are written in the C locale, whatever the user's is.
    locale_t loc = c_locale();
    return loc ? strtod_l(data(), nullptr, loc) : std::strtod(data(), nullptr);
}

// ---------------------------------------------------------------------------
// Formatting

KV_String KV_String::format_impl_va(const char* fmt, va_list args)
{
    KV_String r;
    r.format_va(fmt, args);
    return r;
}

KV_String KV_String::format_impl(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    KV_String r = format_impl_va(fmt, args);
    va_end(args);
    return r;
}

bool KV_String::format_va(const char* fmt, va_list args)
{
    if (!fmt)
        return false;
    constexpr size_t scratch_size = 4096;
    char* p = static_cast<char*>(std::malloc(scratch_size));
    if (!p)
        return false;
    va_list again;
    va_copy(again, args);
    int n;
    {
        CLocaleScope c_numbers;
        n = std::vsnprintf(p, scratch_size, fmt, args);
        if (n >= 0 && size_t(n) >= scratch_size) {
            char* big =
                n < INT32_MAX ? static_cast<char*>(std::realloc(p, size_t(n) + 1)) : nullptr;
            if (big) {
                p = big;
                n = std::vsnprintf(p, size_t(n) + 1, fmt, again);
            } else {
                n = -1;
            }
        }
    }
    va_end(again);
    bool ok = false;
    if (n >= 0) {
        // The arguments may point into this string: it changes only now.
        size_t tlen = std::strlen(p);
        if (tlen == 0) {
            clear();
            ok = true;
        } else {
            char* exact = static_cast<char*>(std::malloc(tlen + 1));
            if (exact) {
                std::memcpy(exact, p, tlen + 1);
                adopt(exact, static_cast<uint32_t>(tlen));
                ok = true;
            }
        }
    }
    std::free(p);
    return ok;
}

bool KV_String::format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    bool ok = format_va(fmt, args);
    va_end(args);
    return ok;
}

// ---------------------------------------------------------------------------
// Binary and text forms

bool KV_String::write_bin(KV_Storage& st) const
{
    if (!st.opened())
        return false;
    if (!st.write_le(len))
        return false;
    // Each character is a sign-extended 16-bit little-endian unit (A -> 41 00,
    // E9 -> E9 FF). The units go out in chunks rather than one write each: the
    // bytes are the same, and a storage that stops taking bytes stops us at
    // the same place.
    constexpr uint32_t chunk_units = 512;
    unsigned char units[2 * chunk_units];
    for (uint32_t i = 0; i < len;) {
        uint32_t k = len - i < chunk_units ? len - i : chunk_units;
        for (uint32_t j = 0; j < k; ++j)
            kv_put_le(units + 2 * j, static_cast<int16_t>(static_cast<signed char>(buf[i + j])));
        if (!write_all(st, units, 2 * k))
            return false;
        i += k;
    }
    return true;
}

bool KV_String::read_bin(KV_Storage& st)
{
    if (!st.opened())
        return false;
    clear();
    uint32_t count = 0;
    if (!st.read_le(count))
        return false;
    // The count comes from a file or a peer: nothing is reserved for it up
    // front. Units are read in bounded chunks and the text grows only with
    // the bytes that actually arrive.
    constexpr uint32_t chunk_units = 512;
    unsigned char units[2 * chunk_units];
    KV_ByteBuf b;
    for (uint32_t i = 0; i < count;) {
        uint32_t k = count - i < chunk_units ? count - i : chunk_units;
        if (st.read(units, 2 * k) != 2 * k)
            return false;
        for (uint32_t j = 0; j < k; ++j)
            if (units[2 * j] && !b.put(units[2 * j]))
                return false;
        i += k;
    }
    uint32_t n = b.size();
    adopt(reinterpret_cast<char*>(b.release()), n);
    return true;
}

bool KV_String::write_txt(KV_Storage& st) const
{
    if (!st.opened())
        return false;
    size_t n = std::strlen(data());
    if (n == 0)
        return true;
    return write_all(st, reinterpret_cast<const unsigned char*>(buf), static_cast<uint32_t>(n));
}

bool KV_String::read_txt(KV_Storage& st)
{
    if (!st.opened())
        return false;
    clear();
    for (;;) {
        KV_ByteBuf b;
        bool lf = false;
        unsigned char c;
        while (st.read(&c, 1) == 1) {
            if (c == '\n') {
                lf = true;
                break;
            }
            if (c && !b.put(static_cast<unsigned char>(c))) {
                clear();
                return false;
            }
        }
        uint32_t n = b.size();
        adopt(reinterpret_cast<char*>(b.release()), n);
        *this = trim(3, blanks);
        if (!empty() || !lf)
            return lf;
    }
}

bool KV_String::read_txt(KV_Stream& st)
{
    if (!st.opened())
        return false;
    clear();
    while (st.length() > 0 && empty()) {
        uint32_t lf = 0;
        bool has_lf = st.find('\n', lf);
        uint32_t n = has_lf ? lf : st.length();
        const unsigned char* bytes = st;
        // A NUL byte ends the text there.
        if (!append(reinterpret_cast<const char*>(bytes), n))
            return false;
        if (has_lf) {
            if (!st.remove(lf + 1))
                return false;
        } else {
            st.clear();
        }
        *this = trim(3, blanks);
    }
    return !empty();
}

// ---------------------------------------------------------------------------
// KV_StringStd

KV_StringStd::KV_StringStd(const KV_StringStd& other)
{
    *this = other;
}

KV_StringStd::KV_StringStd(const char* text)
{
    if (text)
        init(reinterpret_cast<const unsigned char*>(text),
             static_cast<uint32_t>(strnlen(text, UINT32_MAX)));
}

KV_StringStd::~KV_StringStd()
{
    std::free(buf);
}

KV_StringStd& KV_StringStd::operator=(const KV_StringStd& other)
{
    if (&other != this) {
        if (other.buf)
            init(other.buf, other.length());
        else
            clear();
    }
    return *this;
}

bool KV_StringStd::init(const unsigned char* bytes, uint32_t n)
{
    unsigned char* p = nullptr;
    if (bytes && n) {
        p = static_cast<unsigned char*>(std::malloc(size_t(n) + 1));
        if (!p) {
            clear();
            return false;
        }
        std::memcpy(p, bytes, n); // bytes may lie inside buf: copied before the free
        p[n] = 0;
    }
    std::free(buf);
    buf = p;
    return true;
}

uint32_t KV_StringStd::length() const
{
    return buf ? static_cast<uint32_t>(strnlen(reinterpret_cast<const char*>(buf), UINT32_MAX)) : 0;
}

KV_StringStd::operator const unsigned char*() const
{
    return buf ? buf : reinterpret_cast<const unsigned char*>(empty_text);
}

KV_StringStd::operator const char*() const
{
    return buf ? reinterpret_cast<const char*>(buf) : empty_text;
}

void KV_StringStd::clear()
{
    std::free(buf);
    buf = nullptr;
}
