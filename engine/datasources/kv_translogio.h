// Reading and writing the fields of transfer logs.
//
// Transfer logs are read back from files that an earlier run, a crash or
// anyone with access to the temporary folder left behind. KV_TransLogIn reads
// a log body without believing its lengths: before a string, a path or a list
// is read, its count is checked against the bytes that remain in the file,
// so a damaged log is refused at once, is never read past its end and never
// makes the reader allocate more than the file holds.
//
// KV_TransLogOut gathers a body or a record in memory, so that it reaches the
// (unbuffered) log file in one write and the offsets of its fields are known
// before it is written.
//
// Integers are stored little-endian at their declared width (kv_le.h);
// kv_write_le / kv_read_le move one of them through a KV_Storage in one
// write or read.
//
// Threads: none inside; the log that reads holds its lock.
#pragma once

#include <concepts>
#include <cstdint>

#include "foundation/kv_le.h"
#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"
#include "foundation/kvtl.h"

class KV_File;
class KV_FileManId;
class KV_PathDef;
class KV_Time;

// One integer, sizeof(T) bytes little-endian, in one write.
template <std::integral T> bool kv_write_le(KV_Storage& st, T v)
{
    unsigned char b[sizeof(T)];
    kv_put_le<T>(b, v);
    return st.write(b, sizeof(T)) == sizeof(T);
}

// One integer, sizeof(T) bytes little-endian; `v` changes only when all of
// them were read.
template <std::integral T> bool kv_read_le(KV_Storage& st, T& v)
{
    unsigned char b[sizeof(T)];
    if (st.read(b, sizeof(T)) != sizeof(T))
        return false;
    v = kv_get_le<T>(b);
    return true;
}

// A bounded reader over an open log file, from the file's current position
// to its end. Every read stops at the end of the file as it was when the
// reader was made.
class KV_TransLogIn : public KV_Storage
{
public:
    // Takes the file's position and length now; a file whose position or
    // length cannot be had reads as empty (every read fails).
    explicit KV_TransLogIn(KV_File& file);
    KV_TransLogIn(const KV_TransLogIn&) = delete;
    KV_TransLogIn& operator=(const KV_TransLogIn&) = delete;

    // The position of the next byte to read, and the bytes left after it.
    int64_t pos() const { return pos_; }
    int64_t left() const { return end_ > pos_ ? end_ - pos_ : 0; }

    // At most left() bytes.
    uint32_t read(void* dst, uint32_t n) override;
    // A reader does not write.
    uint32_t write(const unsigned char* src, uint32_t n) override;

    template <std::integral T> bool num(T& v) { return kv_read_le(*this, v); }
    // `n` bytes as they are.
    bool bytes(void* dst, uint32_t n) { return read(dst, n) == n; }
    bool time(KV_Time& t);
    // The string form (u32 count, 2 bytes a character): refused when the
    // count claims more than the bytes left.
    bool str(KV_String& s);
    // The path form (root flag, u32 entry count, the entries as strings):
    // refused when the count claims more entries than the bytes left can
    // hold. `p` is emptied first.
    bool path(KV_PathDef& p);
    // The file-manager id form (u16 type, three strings, u32 instance).
    bool man_id(KV_FileManId& id);
    // A list of names (u32 count, then the strings), added to `names`; the
    // list is emptied first.
    bool names(KVTL::KV_ListVal<KV_String>& names);
    // A u32 count of items that take at least `min_size` bytes each:
    // refused when that many cannot fit in the bytes left.
    bool count(uint32_t& n, uint32_t min_size);
    // Moves to `pos` (within the file); false outside it or when the seek
    // fails.
    bool seek(int64_t pos);

private:
    KV_File& file;
    int64_t pos_ = 0;
    int64_t end_ = 0;
};

// A body or record on its way into a log file: the bytes in memory and the
// file offset they will start at.
class KV_TransLogOut : public KV_Stream
{
public:
    // Bytes that will start at `start`.
    explicit KV_TransLogOut(int64_t start = 0) : KV_Stream(256), start_(start) {}

    // The bytes go at the open file's current position.
    bool begin(KV_File& file);
    void set_start(int64_t start) { start_ = start; }
    int64_t start() const { return start_; }
    // The file offset of the next byte added.
    int64_t pos() const { return start_ + length(); }

    template <std::integral T> bool num(T v) { return kv_write_le(*this, v); }
    bool bytes(const void* src, uint32_t n);
    bool time(const KV_Time& t);
    bool str(const KV_String& s);
    bool path(const KV_PathDef& p);
    bool man_id(const KV_FileManId& id);
    bool names(const KVTL::KV_ListVal<KV_String>& names);
    // `text` in a field of `size` bytes: at most size - 1 of its bytes, then
    // NUL bytes to the field's end.
    bool fixed(const KV_String& text, uint32_t size);

    // Writes everything at start() in one write; true when all of it went.
    // The file's position is left after the bytes.
    bool flush(KV_File& file) const;
    // As flush, for bytes that replace a field in place: one positional
    // write (KV_File::write_at), after which the file's position is not to
    // be relied on.
    bool rewrite(KV_File& file) const;

private:
    int64_t start_;
};
