// Text lines are read from the data-source file, from cached text files and
// from protocol buffers: arbitrary bytes must never make either form of
// KV_String::read_txt misbehave, and every line it gives is trimmed and free
// of line ends and NUL bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "foundation/kv_storage.h"
#include "foundation/kv_string.h"

namespace {

class SpanStorage : public KV_Storage
{
public:
    SpanStorage(const uint8_t* d, size_t n) : data(d), size(n) {}
    uint32_t read(void* dst, uint32_t n) override
    {
        size_t k = std::min<size_t>(n, size - pos);
        if (k)
            std::memcpy(dst, data + pos, k);
        pos += k;
        return static_cast<uint32_t>(k);
    }
    uint32_t write(const unsigned char*, uint32_t) override { return 0; }

private:
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
};

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void check_line(const KV_String& s)
{
    const uint32_t n = s.length();
    if (std::strlen(s.data()) != n || s.contains('\n'))
        __builtin_trap();
    if (n && (blank(s.data(0u)) || blank(s.data(n - 1))))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1u << 16)
        return 0;

    // Storage form: every call reads at least one byte until the end; the
    // total of characters taken never exceeds the input.
    SpanStorage span(data, size);
    size_t taken = 0;
    for (size_t calls = 0;; ++calls) {
        KV_String line;
        bool lf = line.read_txt(span);
        check_line(line);
        taken += line.length();
        if (!lf)
            break;
        if (line.empty() || calls > size)
            __builtin_trap(); // a true result always carries a line
    }
    if (taken > size)
        __builtin_trap();

    // Stream form: each true result takes a non-empty line off the front.
    KV_Stream st(64);
    if (size > 0 && !st.append(data, static_cast<uint32_t>(size)))
        return 0;
    KV_String line;
    while (line.read_txt(st)) {
        check_line(line);
        if (line.empty())
            __builtin_trap();
    }
    if (!st.empty() || !line.empty())
        __builtin_trap(); // false only once the stream has run out
    return 0;
}
