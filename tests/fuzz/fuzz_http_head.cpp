// The response head reader over arbitrary lines (split at LF): the status
// line, the header table and the value readers. A status line read whole
// has a three-digit code and a reason no longer than the buffer; a length
// is never negative; a range never runs backwards.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "http/kv_httpman.h"
#include "http/kv_httpsess.h"

namespace {

// The session's line reader on a manager that is never connected.
class HeadReader : public KV_HttpSess
{
public:
    HeadReader(KV_HttpMan* man, KV_Socket& sock) : KV_HttpSess(man, sock, KV_InetAddr()) {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 200000)
        return 0;
    KV_HttpMan man;
    man.exec_impl(nullptr); // a fresh response state, the head being read
    KV_Socket sock;
    HeadReader sess(&man, sock);
    size_t from = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && data[i] != '\n')
            continue;
        KV_String line;
        line.append(data + from, static_cast<uint32_t>(i - from));
        from = i + 1;

        KV_HttpVer ver;
        uint32_t code = 0;
        KV_String reason;
        if (KV_HttpSess::parse_status(line, ver, code, reason) &&
            (code > 999 || reason.length() > KV_HttpSess::max_reason))
            std::abort();
        int64_t len = -1;
        if (KV_HttpSess::parse_length(line, len) && len < 0)
            std::abort();
        int64_t a = -1, b = -1;
        if (KV_HttpSess::parse_range(line, a, b) && (a < 0 || b < a))
            std::abort();

        if (!man.hdr_rcv())
            man.exec_impl(nullptr);
        if (!sess.process_hdr(line))
            man.exec_impl(nullptr);
        if (man.fdata().valid_size(false) && man.fdata().size(false) <= 0)
            std::abort();
    }
    return 0;
}
