// Strings of the engine: KV_String, the one 8-bit text type, and
// KV_StringStd, a bare NUL-terminated byte block.
//
// KV_String holds bytes (UTF-8 on this platform, passed through unchanged) in a
// heap block of at least len + 1 bytes; an empty string holds no block at all.
// Appending grows the block geometrically, so text built piece by piece (a
// listing line, a reply head) costs time linear in its length; copies and
// assignments take a block of exactly the length.
// Allocating operations report memory exhaustion as false and never throw.
// The one exception that leaves this class is std::invalid_argument
// ("Incorrect key length") from encrypt_bf / decrypt_bf given an empty key, a
// mistake in the calling code; every other failure of theirs is reported.
//
// Threads: a KV_String is a plain value; one thread at a time per object.
#pragma once

#include <cstdarg>
#include <cstdint>

class KV_ErrHandler;
class KV_Storage;
class KV_Stream;
namespace KVTL {
template <class T> class KV_ListVal;
}

class KV_String
{
public:
    KV_String() = default;
    KV_String(const KV_String& other);
    KV_String(KV_String&& other) noexcept;
    // A copy of the NUL-terminated text; null or "" gives the empty string.
    KV_String(const char* text);
    // A one-character string; the NUL character gives the empty string.
    KV_String(char c);
    virtual ~KV_String();

    // Replace the text by a copy. Self-assignment does nothing. On allocation
    // failure the string is left empty.
    KV_String& operator=(const char* text);
    KV_String& operator=(const KV_String& other);
    KV_String& operator=(KV_String&& other) noexcept;

    // Clears, then appends the text (null leaves the string empty).
    bool init_std(const char* text);
    bool init_signed(long value);            // "%ld"
    bool init_unsigned(unsigned long value); // "%lu"

    // ---- appending: false only when memory cannot be had (string unchanged)
    // n raw bytes, NUL bytes included and counted. Null or n 0: nothing, true.
    // False (nothing appended) when len + n would not fit 32 bits.
    bool append(const unsigned char* bytes, uint32_t n);
    // At most the first n characters of text: the copy never reads past the
    // text's terminating NUL (a caller's n beyond the text's length is cut to
    // that length). Null or n 0: nothing, true.
    bool append(const char* text, uint32_t n);
    // The whole NUL-terminated text; null appends nothing.
    bool append(const char* text);
    // The operator forms leave the string unchanged when memory cannot be had;
    // use append() where the result must be checked.
    KV_String& operator+=(char c); // NUL appends nothing
    KV_String& operator+=(const char* text);
    KV_String& operator+=(const KV_String& other);
    KV_String operator+(const char* text) const;
    KV_String operator+(const KV_String& other) const;

    // ---- access
    // Never null: a static "" for the empty string.
    const char* data() const;
    // The character at i, NUL when i >= length().
    char data(uint32_t i) const;
    uint32_t length() const { return len; }
    bool empty() const { return len == 0; }
    void clear();

    // ---- comparison: strcmp order of the NUL-terminated texts (bytes
    // unsigned); a null const char* compares as "".
    bool operator==(const char* text) const;
    bool operator==(const KV_String& other) const;
    bool operator!=(const char* text) const;
    bool operator!=(const KV_String& other) const;
    bool operator<(const char* text) const;
    bool operator<(const KV_String& other) const;
    bool operator<=(const char* text) const;
    bool operator<=(const KV_String& other) const;
    bool operator>(const char* text) const;
    bool operator>(const KV_String& other) const;
    bool operator>=(const char* text) const;
    bool operator>=(const KV_String& other) const;
    // Below, at or above 0. case_sens false folds ASCII letters only
    // (bytes >= 0x80 compare as they are).
    int compare(const KV_String& other, bool case_sens = true) const;

    // ---- search
    // True when c occurs at or after index from; *pos (when given) receives its
    // index from the start of the string. False when from >= length().
    bool contains(char c, uint32_t from = 0, uint32_t* pos = nullptr) const;
    // First occurrence of sub at or after from. False when either is empty or
    // from > length().
    bool contains(const KV_String& sub, uint32_t from = 0, uint32_t* pos = nullptr) const;
    // Whole-word search: word characters are ASCII letters and digits, '_' and
    // every byte >= 0x80.
    bool containsw(const KV_String& word, bool case_sens = true) const;

    // ---- pieces and splitting
    // Characters [from, min(to, length())); empty when from >= length() or
    // to < from.
    KV_String part(uint32_t from, uint32_t to) const;
    // Splits at every occurrence of sep, trims each piece with
    // trim(trim_flags, trim_chars) and add()s the non-empty ones to list (not
    // cleared first). False only when an add fails.
    bool parse(KVTL::KV_ListVal<KV_String>& list, const KV_String& sep, uint8_t trim_flags = 3,
               const char* trim_chars = nullptr) const;

    // ---- transformations (new strings; this one is unchanged)
    // flags: 1 leading, 2 trailing, 3 both. chars null means " \t\r\n"; NUL is
    // a member of every set.
    KV_String trim(uint8_t flags = 3, const char* chars = nullptr) const;
    KV_String upper() const; // ASCII a-z only
    KV_String lower() const; // ASCII A-Z only
    // Every character occurring in chars replaced by c.
    KV_String convert(const KV_String& chars, char c) const;
    // Every occurrence of old_text replaced by new_text. Text made by a
    // replacement is searched again from the start, except when new_text
    // itself contains old_text: then the search goes on after each inserted
    // copy, so the operation always ends.
    KV_String replace(const KV_String& old_text, const KV_String& new_text) const;
    // Drops \ / : * ? " < > | and trims blanks, tabs, CR, LF from both ends.
    KV_String fname() const;
    // RFC 4648 Base64 of the len bytes, '=' padded, no line breaks.
    KV_String encrypt_base64() const;
    // Decodes groups of four; characters outside the alphabet count as 0 and a
    // truncated last group decodes what it can. Decoded NUL bytes are dropped.
    KV_String decrypt_base64() const;
    // Blowfish-ECB scrambling to lower-case hex and back. An empty or null
    // key throws std::invalid_argument("Incorrect key length"). Nothing else
    // throws: when the cipher cannot be had (OpenSSL's legacy provider is
    // missing) or memory runs out, the result is empty and `*ok` (when given)
    // false; a cipher failure is also reported to `eh` (when given) at
    // priority 2. An empty text gives the empty text.
    KV_String encrypt_bf(const char* key, KV_ErrHandler* eh = nullptr, bool* ok = nullptr) const;
    KV_String decrypt_bf(const char* key, KV_ErrHandler* eh = nullptr, bool* ok = nullptr) const;

    // ---- numbers: the leading number (strtol / strtoul base 10, strtod in the
    // C locale); 0 when there is none.
    long as_signed() const;
    unsigned long as_unsigned() const;
    double as_real() const;

    // ---- formatting, printf-style, numbers always in the C locale. Results up
    // to 4095 characters are what a 4096-byte buffer gives; longer ones are
    // kept whole. format leaves the string unchanged on failure.
    bool format(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    bool format_va(const char* fmt, va_list args) __attribute__((format(printf, 2, 0)));
    static KV_String format_impl(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
    static KV_String format_impl_va(const char* fmt, va_list args)
        __attribute__((format(printf, 1, 0)));

    // ---- binary and text forms
    // u32 count, then each character as a sign-extended 16-bit LE unit.
    bool write_bin(KV_Storage& st) const;
    // Reads the count and that many units (low byte kept, 0 adds nothing). A
    // short read clears the string and gives false.
    bool read_bin(KV_Storage& st);
    // The characters up to the first NUL in one write; false when not opened.
    bool write_txt(KV_Storage& st) const;
    // Next non-blank line, trimmed. True when it was ended by LF; false at the
    // end of the data (the trimmed rest is left in the string).
    bool read_txt(KV_Storage& st);
    // Next non-blank line taken off the stream's front, trimmed. True when a
    // non-empty line was taken (also the last one without LF).
    bool read_txt(KV_Stream& st);

private:
    bool init(const char* text);
    // Adopts a malloc'ed NUL-terminated block (no copy); len becomes its
    // strlen. An empty block is freed.
    void init_ncpy(char* block);
    // Adopts a malloc'ed block of n bytes plus a NUL (n may count NUL bytes
    // inside); a null block or n 0 gives the empty string (the block is freed).
    void adopt(char* block, uint32_t n);

    char* buf = nullptr; // malloc'ed, cap + 1 bytes, or null when empty
    uint32_t len = 0;
    uint32_t cap = 0; // characters the block holds before it must grow (>= len)
};

// A bare NUL-terminated byte block (null when empty); no stored length.
class KV_StringStd
{
public:
    KV_StringStd() = default;
    KV_StringStd(const KV_StringStd& other);
    KV_StringStd(const char* text); // "" or null gives the null block
    virtual ~KV_StringStd();
    KV_StringStd& operator=(const KV_StringStd& other);

    // Clear, then copy n bytes and add a NUL. n 0: empty, true. False when
    // memory cannot be had (then empty).
    bool init(const unsigned char* bytes, uint32_t n);
    uint32_t length() const;               // up to the first NUL; 0 when null
    operator const unsigned char*() const; // never null
    operator const char*() const;          // never null
    void clear();

private:
    unsigned char* buf = nullptr;
};
