// Keyed setting values: the "SET <key> <value>" lines of the data-source file.
//
// Every setting of a node or of an option class is one line
//     SET <key> <value>\n
// written with one of the save_* writers below and read back, key by key,
// through the owner's load(key, value). The file reader (KV_DsTree) trims the
// value and turns every '|' back into CR LF before calling load; plain text
// and numbers are then read by the caller itself (KV_String::as_unsigned,
// as_signed, as_real), booleans and byte streams with set_bool / set_strm.
//
// A line break inside a value would end the line early, so the writer stores
// every CR LF pair, and also every lone CR and lone LF, as '|'. A lone CR or
// LF therefore reads back as CR LF, just as a '|' that the value held does.
//
// The tree node base class may derive from KV_KeyVal, so that nodes and option
// classes alike reach the same static operations.
//
// Threads: stateless; any thread.
#pragma once

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

class KV_KeyVal
{
public:
    // ---- writers: each appends one line to st through KV_String::write_txt.
    // False when the storage did not take the line (or memory ran out); the
    // caller stops writing at the first false.

    // "SET <key> <value>\n"; the value as it is (line breaks as described
    // above).
    static bool save_var(KV_Storage& st, const KV_String& key, const KV_String& value);
    // The number as unsigned decimal ("%lu").
    static bool save_var(KV_Storage& st, const KV_String& key, unsigned long value);
    // The number with six decimals ("%f"), always with a '.' whatever the
    // user's locale.
    static bool save_real(KV_Storage& st, const KV_String& key, double value);
    // Every byte as two lower-case hex digits, no separator; an empty stream
    // gives an empty value.
    static bool save_strm(KV_Storage& st, const KV_String& key, const KV_Stream& value);
    // "YES" or "NO".
    static bool save_bool(KV_Storage& st, const KV_String& key, bool value);

    // ---- readers: false when the text is not a value of that form.

    // Trimmed at both ends and compared ignoring ASCII case: "YES" gives true,
    // "NO" false. Anything else leaves out unchanged.
    static bool set_bool(const KV_String& value, bool& out);
    // Appends the bytes of a save_strm text to out (not cleared first). The
    // text must have an even length. Each pair of characters is read as the
    // "%x" conversion of sscanf reads it: optional white space and sign, then
    // the hex digits (either case) as far as they go, so "0g" gives 0x00 and
    // "a-" 0x0A. Reading stops with false at the first pair from which no
    // number can be read or when an append fails; the bytes appended before
    // stay in out. An empty text gives true.
    static bool set_strm(const KV_String& value, KV_Stream& out);
};
