#include "foundation/kv_storage.h"

#include <cstdlib>
#include <cstring>

// ---------------------------------------------------------------------------
// KV_Storage

bool KV_Storage::opened() const
{
    return true;
}

bool KV_Storage::open()
{
    return true;
}

bool KV_Storage::close()
{
    return true;
}

KV_Storage::~KV_Storage() = default;

bool KV_Storage::write_nbo(const unsigned char* src, uint32_t n)
{
    if (n && !src)
        return false;
    for (uint32_t i = n; i > 0; --i)
        if (write(src + i - 1, 1) == 0)
            return false;
    return true;
}

bool KV_Storage::read_nbo(unsigned char* dst, uint32_t n)
{
    if (n && !dst)
        return false;
    for (uint32_t i = n; i > 0; --i)
        if (read(dst + i - 1, 1) == 0)
            return false;
    return true;
}

// ---------------------------------------------------------------------------
// KV_Stream

KV_Stream::KV_Stream(uint32_t grow) : grow_(grow) {}

KV_Stream::KV_Stream(const KV_Stream& other) : KV_Storage(), grow_(other.grow_)
{
    append(other);
}

KV_Stream::~KV_Stream()
{
    std::free(data_);
}

bool KV_Stream::operator=(const KV_Stream& other)
{
    if (&other == this)
        return true;
    clear();
    return append(other);
}

bool KV_Stream::operator==(const KV_Stream& other) const
{
    if (length_ != other.length_)
        return false;
    return length_ == 0 || std::memcmp(data_, other.data_, length_) == 0;
}

void KV_Stream::clear()
{
    std::free(data_);
    data_ = nullptr;
    length_ = 0;
    capacity_ = 0;
}

bool KV_Stream::append(const unsigned char* src, uint32_t n)
{
    if (!src)
        return false;
    if (n == 0)
        return true;
    if (n > UINT32_MAX - length_) // the length must stay a u32
        return false;
    if (length_ + n > capacity_) {
        // Grow by at least `grow` bytes; refuse rather than wrap when the new
        // capacity would not fit 32 bits.
        uint32_t step = n > grow_ ? n : grow_;
        if (step > UINT32_MAX - capacity_)
            return false;
        uint32_t cap = capacity_ + step;
        unsigned char* p = static_cast<unsigned char*>(std::malloc(cap));
        if (!p)
            return false;
        if (length_)
            std::memcpy(p, data_, length_);
        // src may lie inside the old buffer: copy it before the free.
        std::memcpy(p + length_, src, n);
        std::free(data_);
        data_ = p;
        capacity_ = cap;
        length_ += n;
        return true;
    }
    std::memmove(data_ + length_, src, n);
    length_ += n;
    return true;
}

bool KV_Stream::append(const KV_Stream& other)
{
    if (other.empty())
        return true;
    return append(other.data_, other.length_);
}

bool KV_Stream::remove(uint32_t n)
{
    if (!data_ || n > length_)
        return false;
    if (n == length_) {
        clear();
        return true;
    }
    uint32_t r = length_ - n;
    // Keep the buffer while it would hold no more than `grow` bytes of slack.
    if (uint64_t(r) + grow_ >= capacity_) {
        std::memmove(data_, data_ + n, r);
        length_ = r;
        return true;
    }
    unsigned char* p = static_cast<unsigned char*>(std::malloc(r));
    if (!p)
        return false;
    std::memcpy(p, data_ + n, r);
    std::free(data_);
    data_ = p;
    length_ = capacity_ = r;
    return true;
}

uint8_t KV_Stream::at(uint32_t i) const
{
    return i < length_ && data_ ? data_[i] : 0;
}

uint8_t KV_Stream::get()
{
    if (!data_ || length_ == 0)
        return 0;
    uint8_t b = data_[0];
    remove(1);
    return b;
}

bool KV_Stream::find(uint8_t b, uint32_t& pos) const
{
    if (!data_ || length_ == 0)
        return false;
    const void* hit = std::memchr(data_, b, length_);
    if (!hit)
        return false;
    pos = static_cast<uint32_t>(static_cast<const unsigned char*>(hit) - data_);
    return true;
}

uint32_t KV_Stream::read(void* dst, uint32_t n)
{
    if (!data_ || !dst || n == 0)
        return 0;
    uint32_t k = n < length_ ? n : length_;
    std::memcpy(dst, data_, k);
    if (!remove(k))
        return 0; // the shrink could not be had: nothing taken
    return k;
}

uint32_t KV_Stream::write(const unsigned char* src, uint32_t n)
{
    if (!src)
        return 0;
    return append(src, n) ? n : 0;
}

bool KV_Stream::read_bin(KV_Storage& st)
{
    clear();
    constexpr uint32_t chunk = 4096;
    unsigned char* scratch = static_cast<unsigned char*>(std::malloc(chunk));
    if (!scratch)
        return false;
    bool ok = true;
    for (;;) {
        uint32_t got = st.read(scratch, chunk);
        if (got == 0)
            break;
        if (!append(scratch, got)) {
            ok = false;
            break;
        }
    }
    std::free(scratch);
    return ok;
}

bool KV_Stream::write_bin(KV_Storage& st) const
{
    if (empty())
        return true;
    return st.write(data_, length_) != 0;
}

bool KV_Stream::realloc(uint32_t n)
{
    if (n < length_)
        return false;
    unsigned char* p = nullptr;
    if (n) {
        p = static_cast<unsigned char*>(std::malloc(n));
        if (!p)
            return false;
        if (length_)
            std::memcpy(p, data_, length_);
    }
    std::free(data_);
    data_ = p;
    capacity_ = n;
    return true;
}
