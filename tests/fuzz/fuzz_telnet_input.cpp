// The line command session over arbitrary bytes from a peer, cut into
// arbitrary receives. Whatever arrives:
// - the input never stalls: after each receive at most an incomplete Telnet
//   sequence (two bytes) waits in the input;
// - every line handed on is non-empty, holds no CR or LF and is within the
//   line limit;
// - every answer is a three-byte refusal;
// - how the bytes were cut into receives changes nothing: the lines and the
//   answers equal those of the same bytes in one receive.
#include "net/kv_telnet.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

class Lines : public KV_TelnetSess
{
public:
    Lines() : KV_TelnetSess(nullptr, no_sock(), KV_InetAddr()) {}

    bool feed(const uint8_t* p, size_t n)
    {
        if (!in.append(p, static_cast<uint32_t>(n)))
            return false;
        const bool ok = process_in(in, out);
        if (ok && in.length() > 2)
            __builtin_trap();
        return ok;
    }

    std::vector<std::string> lines;
    KV_Stream in;
    KV_Stream out;

protected:
    bool process_cmd(bool& done) override
    {
        if (!done || line.empty() || line.length() > max_line)
            __builtin_trap();
        for (uint32_t i = 0; i < line.length(); ++i) {
            if (line.data(i) == '\r' || line.data(i) == '\n')
                __builtin_trap();
        }
        lines.emplace_back(line.data(), line.length());
        return true;
    }

private:
    static KV_Socket& no_sock()
    {
        static KV_Socket none;
        return none;
    }
};

std::string bytes_of(const KV_Stream& s)
{
    return std::string(reinterpret_cast<const char*>(static_cast<const unsigned char*>(s)),
                       s.length());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 0x40000)
        return 0;
    // The first byte chooses how the rest is cut into receives.
    const uint8_t cut = data[0];
    const uint8_t* body = data + 1;
    const size_t n = size - 1;

    Lines whole;
    const bool ok_whole = whole.feed(body, n);

    Lines pieces;
    bool ok_pieces = true;
    size_t at = 0;
    size_t k = 0;
    while (ok_pieces && at < n) {
        size_t len = 1 + (size_t(cut) * 7 + k * 13) % (cut % 17 + 1);
        if (len > n - at)
            len = n - at;
        ok_pieces = pieces.feed(body + at, len);
        at += len;
        ++k;
    }

    const std::string answers = bytes_of(whole.out);
    if (answers.size() % 3 != 0)
        __builtin_trap();
    for (size_t i = 0; i < answers.size(); i += 3) {
        const uint8_t a = uint8_t(answers[i]), b = uint8_t(answers[i + 1]);
        if (a != 0xFF || (b != 0xFC && b != 0xFE))
            __builtin_trap();
    }
    // A line over the limit fails both ways, but the cut decides how much of
    // the input was read before the failure; only runs that succeed compare.
    if (ok_whole != ok_pieces)
        __builtin_trap();
    if (ok_whole && (whole.lines != pieces.lines || answers != bytes_of(pieces.out) ||
                     bytes_of(whole.in) != bytes_of(pieces.in)))
        __builtin_trap();
    return 0;
}
