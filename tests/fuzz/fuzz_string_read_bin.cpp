// Strings are read in their binary form from data-source files, saved
// requests and transfer logs: arbitrary bytes must never make
// KV_String::read_bin misbehave, whether the bytes come through a plain
// KV_Storage or a KV_Stream. Stored counts are attacker-chosen.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

namespace {

// A plain storage over the input that hands out at most `step` bytes a read,
// like a network connection delivering in pieces.
class SpanStorage : public KV_Storage
{
public:
    SpanStorage(const uint8_t* d, size_t n, uint32_t s) : data(d), size(n), step(s) {}
    uint32_t read(void* dst, uint32_t n) override
    {
        size_t k = std::min<size_t>({n, size - pos, step});
        if (k)
            std::memcpy(dst, data + pos, k);
        pos += k;
        return static_cast<uint32_t>(k);
    }
    uint32_t write(const unsigned char*, uint32_t) override { return 0; }
    bool done() const { return pos >= size; }

private:
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    uint32_t step;
};

void check(const KV_String& s)
{
    // Read strings hold no NUL and round-trip through their stored form.
    if (std::strlen(s.data()) != s.length())
        __builtin_trap();
    KV_Stream out;
    if (!s.write_bin(out) || out.length() != 4 + 2 * s.length())
        __builtin_trap();
    KV_String back;
    if (!back.read_bin(out) || !(back == s) || !out.empty())
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1u << 16)
        return 0;

    // The KV_Stream form: read strings until one fails.
    KV_Stream st;
    if (size > 0 && !st.append(data, static_cast<uint32_t>(size)))
        return 0;
    for (KV_String s; !st.empty();) {
        uint32_t before = st.length();
        bool ok = s.read_bin(st);
        if (!ok) {
            if (!s.empty())
                __builtin_trap(); // a failed read leaves the string empty
            break;
        }
        if (st.length() >= before)
            __builtin_trap(); // every successful read consumes bytes
        check(s);
    }

    // The plain storage form, with reads cut into pieces of 1 to 8 bytes: a
    // read that comes back short is a failure, never an overrun.
    const uint32_t step = size ? 1 + data[0] % 8 : 1;
    SpanStorage span(data, size, step);
    for (int i = 0; i < 1000 && !span.done(); ++i) {
        KV_String s("previous");
        if (!s.read_bin(span)) {
            if (!s.empty())
                __builtin_trap();
            break;
        }
        check(s);
    }
    return 0;
}
