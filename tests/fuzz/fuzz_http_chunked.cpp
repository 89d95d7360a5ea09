// The body decoder over arbitrary chunked input, fed whole and in pieces
// whose sizes the first input byte chooses: both feeds decode the same
// bytes, never more than came in, and the bytes left in a chunk are never
// negative.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/kv_httpacttrans.h"
#include "http/kv_httpman.h"

namespace {

class Collect : public KV_HttpActTrans
{
public:
    bool store_in(KV_Stream& stream, uint32_t n, KV_HTTP_SESS_IN&) override
    {
        const unsigned char* p = stream;
        out.append(reinterpret_cast<const char*>(p), n);
        return true;
    }
    std::string out;
};

struct Result
{
    bool ok = true;
    bool complete = false;
    std::string out;
};

Result decode(const uint8_t* data, size_t size, size_t step)
{
    KV_HttpMan man;
    Collect act;
    man.exec_impl(&act); // binds the action to the manager; nothing runs
    man.set_trans_enc(KV_HTTP_TENC_CHUNKED);
    act.init();
    Result r;
    KV_Stream in;
    for (size_t at = 0; at < size && r.ok && !r.complete; at += step) {
        const size_t n = std::min(step, size - at);
        in.append(data + at, static_cast<uint32_t>(n));
        KV_HTTP_SESS_IN st = KV_HTTP_SESS_IN_NONE;
        r.ok = act.process_in(in, st);
        r.complete = st == KV_HTTP_SESS_IN_COMPLETE;
        if (act.chunk_left() < 0 || act.body_len() != static_cast<int64_t>(act.out.size()))
            std::abort();
    }
    r.out = act.out;
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 100000)
        return 0;
    const size_t step = data[0] % 17 + 1;
    const Result whole = decode(data + 1, size - 1, size);
    const Result parts = decode(data + 1, size - 1, step);
    if (whole.out.size() > size)
        std::abort();
    // A failure may come in a later piece than in the whole feed, so only
    // a clean, complete decode must agree.
    if (whole.ok && parts.ok && whole.complete != parts.complete)
        std::abort();
    if (whole.ok && whole.complete && parts.ok && whole.out != parts.out)
        std::abort();
    return 0;
}
