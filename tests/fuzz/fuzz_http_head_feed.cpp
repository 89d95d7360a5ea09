// The session's assembly of a response head from arbitrary socket bytes,
// cut into arbitrary receives (lines split anywhere, CRs anywhere, lines
// without end, heads without end). The first byte picks how the rest is
// cut. Whatever arrives:
// - how the bytes were cut changes nothing: the outcome, the status and the
//   header values read equal those of the same bytes in one receive;
// - a refused head says why.
#include <cstddef>
#include <cstdint>
#include <string>

#include "http/kv_httpman.h"
#include "http/kv_httpsess.h"

namespace {

// The session's input hook on a manager that is never connected.
class HeadReader : public KV_HttpSess
{
public:
    HeadReader(KV_HttpMan* man, KV_Socket& sock) : KV_HttpSess(man, sock, KV_InetAddr()) {}
    bool feed(KV_Stream& in, KV_Stream& out) { return process_in(in, out); }
};

struct Outcome
{
    bool ok = true;
    bool head_done = false;
    uint32_t code = 0;
    bool size_valid = false;
    int64_t size = 0;
    bool conn_close = false;
    int trans_enc = 0;
    std::string err;

    bool operator==(const Outcome&) const = default;
};

Outcome run(const uint8_t* body, size_t n, uint8_t cut)
{
    KV_HttpMan man;
    man.exec_impl(nullptr); // a fresh response state, the head being read
    KV_Socket sock;
    HeadReader sess(&man, sock);
    Outcome o;
    KV_Stream in;
    KV_Stream out;
    size_t at = 0;
    size_t k = 0;
    while (o.ok && at < n) {
        size_t len = cut == 0 ? n : 1 + (size_t(cut) * 7 + k * 13) % (cut % 31 + 1);
        if (len > n - at)
            len = n - at;
        if (!in.append(body + at, static_cast<uint32_t>(len)))
            return o;
        o.ok = sess.feed(in, out);
        at += len;
        ++k;
    }
    o.head_done = !man.hdr_rcv();
    o.code = man.code();
    o.size_valid = man.fdata().valid_size(false);
    o.size = man.fdata().size(false);
    o.conn_close = man.conn_close();
    o.trans_enc = static_cast<int>(man.trans_enc());
    o.err = std::string(man.err_msg().data(), man.err_msg().length());
    if (!o.ok && o.err.empty())
        __builtin_trap();
    if (o.size_valid && o.size < 0)
        __builtin_trap();
    return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 0x80000)
        return 0;
    const Outcome whole = run(data + 1, size - 1, 0);
    const Outcome pieces = run(data + 1, size - 1, static_cast<uint8_t>(data[0] | 1));
    if (!(whole == pieces))
        __builtin_trap();
    return 0;
}
