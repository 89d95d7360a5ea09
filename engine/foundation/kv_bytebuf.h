// A block of bytes that grows as they arrive, for data whose size is known
// only at its end: a text built character by character, a whole file read
// into memory.
//
// Room doubles as the block fills, so n bytes cost O(n) copying however they
// come, and the finished block is handed over without a copy (a KV_String
// adopts it). KV_Stream is the buffer that is read from its front and grows
// by a fixed step; this one only fills. One byte beyond size() is always
// kept for a terminating NUL. Sizes stay within 32 bits, the limit of
// KV_String and KV_Stream.
//
// Threads: one thread at a time per object.
#pragma once

#include <cstdint>

class KV_ByteBuf
{
public:
    KV_ByteBuf() = default;
    ~KV_ByteBuf();
    KV_ByteBuf(const KV_ByteBuf&) = delete;
    KV_ByteBuf& operator=(const KV_ByteBuf&) = delete;

    uint32_t size() const { return n_; }
    // The bytes; null while nothing was reserved.
    unsigned char* data() { return p_; }
    // Bytes that can be written at data() + size() without growing.
    uint32_t room() const { return cap_ ? cap_ - n_ - 1 : 0; }

    // Makes room() at least `more`, at least doubling the block when it must
    // grow. False, with nothing changed, when memory cannot be had or the
    // size would not fit 32 bits.
    bool reserve(uint32_t more);
    // Appends one byte; false as reserve.
    bool put(unsigned char c);
    // Counts k bytes that the caller wrote at data() + size(); k <= room().
    void added(uint32_t k) { n_ += k; }
    // Keeps the first k bytes; k <= size().
    void cut(uint32_t k) { n_ = k; }

    // Hands over the malloc'ed block: size() bytes and a NUL, shrunk to fit
    // (free() it, or let a KV_String adopt it); null when empty. The buffer
    // is empty afterwards.
    unsigned char* release();

private:
    unsigned char* p_ = nullptr;
    uint32_t n_ = 0;
    uint32_t cap_ = 0; // 0, or more than n_
};
