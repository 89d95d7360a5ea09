// Binary storage and streams.
//
// KV_Storage is the abstract byte source and sink through which every engine
// value type writes and reads its binary form. The persistence conventions:
// fields in declared order, one write() per field of exactly its size, raw
// little-endian integers at their declared width (u8/bool 1, u16 2, u32/i32/
// enums 4, 64-bit sizes 8), KV_Time as 4 signed bytes, KV_String as a u32 count
// plus 2 bytes per character, lists as a u32 count plus the elements, a
// KV_Stream as raw bytes only as the last item. Integers go through
// write_le / read_le, network-order formats through write_nbo / read_nbo.
// Reading stops with false at the first short read.
//
// KV_Stream is the growable in-memory storage (receive/send buffers, cached
// file contents). Threads: none inside; one thread at a time per object.
#pragma once

#include <concepts>
#include <cstdint>

#include "foundation/kv_le.h"

// Empty base: no data, no virtual operations; copying copies nothing.
class KV_SafeObj
{
};

class KV_Storage : public KV_SafeObj
{
public:
    // The storage can be read or written now. Default true.
    virtual bool opened() const;
    virtual bool open();  // default true
    virtual bool close(); // default true
    // Moves up to n bytes into dst; the number moved (0 at the end or on
    // failure).
    virtual uint32_t read(void* dst, uint32_t n) = 0;
    // Takes up to n bytes; the number taken.
    virtual uint32_t write(const unsigned char* src, uint32_t n) = 0;
    virtual ~KV_Storage();

    // Writes src[n-1] .. src[0], one byte per write(); stops at the first
    // write that takes nothing. True when all n were taken.
    bool write_nbo(const unsigned char* src, uint32_t n);
    // Reads n single bytes into dst[n-1] .. dst[0]. True when all n were read.
    bool read_nbo(unsigned char* dst, uint32_t n);

    // One integer field, little-endian at exactly its width, in one write();
    // true when every byte was taken.
    template <std::integral T> bool write_le(T v)
    {
        unsigned char b[sizeof(T)];
        kv_put_le(b, v);
        return write(b, sizeof(T)) == sizeof(T);
    }
    // One integer field written by write_le. On a short read false, with v
    // unchanged.
    template <std::integral T> bool read_le(T& v)
    {
        unsigned char b[sizeof(T)];
        if (read(b, sizeof(T)) != sizeof(T))
            return false;
        v = kv_get_le<T>(b);
        return true;
    }
};

class KV_Stream : public KV_Storage
{
public:
    // grow: the smallest number of bytes by which the buffer grows.
    explicit KV_Stream(uint32_t grow = 1);
    KV_Stream(const KV_Stream& other); // same grow, copy of the bytes
    ~KV_Stream() override;

    // Clears, then appends the other's bytes; false when memory cannot be had.
    bool operator=(const KV_Stream& other);
    // Equal lengths and bytes (two empty streams are equal).
    bool operator==(const KV_Stream& other) const;

    void clear(); // frees the buffer
    uint32_t length() const { return length_; }
    bool empty() const { return length_ == 0 || data_ == nullptr; }
    // The buffer itself; null when none is allocated.
    operator const unsigned char*() const { return data_; }

    // Adds n bytes at the end. False when src is null, when memory cannot be
    // had or when the length or the new capacity would not fit 32 bits
    // (stream unchanged); true without change when n is 0.
    bool append(const unsigned char* src, uint32_t n);
    bool append(const KV_Stream& other);
    // Drops n bytes from the front: frees the buffer when all go; moves the
    // rest in place while rest + grow >= capacity, else shrinks to fit. False
    // when there is no buffer or n > length().
    bool remove(uint32_t n);
    uint8_t at(uint32_t i) const; // 0 when out of range
    uint8_t get();                // the first byte, removed; 0 when empty
    bool find(uint8_t b, uint32_t& pos) const;

    // Copies min(n, length()) bytes off the front.
    uint32_t read(void* dst, uint32_t n) override;
    // Appends; n on success, 0 when src is null or append fails.
    uint32_t write(const unsigned char* src, uint32_t n) override;

    // Replaces the contents by everything the storage yields (read in chunks
    // of 4096 to its end).
    bool read_bin(KV_Storage& st);
    // All bytes in one write(); true when empty or the storage took a
    // non-zero number of bytes.
    bool write_bin(KV_Storage& st) const;

protected:
    // Moves the held bytes into a new buffer of exactly n (>= length()) bytes.
    bool realloc(uint32_t n);
    uint32_t capacity() const { return capacity_; }
    uint32_t grow() const { return grow_; }

private:
    uint32_t grow_;
    unsigned char* data_ = nullptr; // malloc'ed, capacity_ bytes
    uint32_t length_ = 0;
    uint32_t capacity_ = 0;
};
