#include "foundation/kv_bytebuf.h"

#include <cstdlib>

namespace {

// The first block: small texts, the common case, need no second one.
constexpr uint64_t first_block = 64;

} // namespace

KV_ByteBuf::~KV_ByteBuf()
{
    std::free(p_);
}

bool KV_ByteBuf::reserve(uint32_t more)
{
    // Room for the bytes and the NUL, in 64-bit arithmetic.
    const uint64_t need = uint64_t(n_) + more + 1;
    if (need <= cap_)
        return true;
    if (need > UINT32_MAX)
        return false;
    uint64_t c = cap_ ? uint64_t(cap_) * 2 : first_block;
    if (c < need)
        c = need;
    if (c > UINT32_MAX)
        c = UINT32_MAX;
    auto* q = static_cast<unsigned char*>(std::realloc(p_, c));
    if (!q)
        return false;
    p_ = q;
    cap_ = static_cast<uint32_t>(c);
    return true;
}

bool KV_ByteBuf::put(unsigned char c)
{
    if (room() == 0 && !reserve(1))
        return false;
    p_[n_++] = c;
    return true;
}

unsigned char* KV_ByteBuf::release()
{
    if (n_ == 0)
        return nullptr;
    p_[n_] = 0;
    auto* out = static_cast<unsigned char*>(std::realloc(p_, size_t(n_) + 1));
    if (!out)
        out = p_; // shrinking failed: the larger block serves as well
    p_ = nullptr;
    n_ = cap_ = 0;
    return out;
}
