// The proxy handshakes over arbitrary replies. The first byte picks the
// kind (HTTP CONNECT, SOCKS4, SOCKS5), CONNECT or BIND and a login; the rest
// arrives in pieces whose sizes the next bytes choose. Whatever comes, a
// handshake consumes no more than it was given.
//
// A SOCKS5 BIND resolves a name its proxy replies with: inputs that could
// carry such a reply are left out, so that no name lookup leaves the host.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "datasources/kv_logindata.h"
#include "foundation/kv_storage.h"
#include "net/kv_proxy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 70000)
        return 0;
    const uint8_t pick = data[0];
    const bool bind = pick & 4;
    const KV_LoginData login = (pick & 8) ? KV_LoginData("joe", "pw") : KV_LoginData();
    std::unique_ptr<KV_Proxy> proxy;
    switch (pick % 3) {
    case 0:
        proxy = std::make_unique<KV_ProxyHttp>(nullptr, "127.0.0.1:21", login);
        break;
    case 1:
        proxy = std::make_unique<KV_ProxySocks4>(nullptr, "127.0.0.1:21", login, bind);
        break;
    default:
        proxy = std::make_unique<KV_ProxySocks5>(nullptr, "127.0.0.1:21", login, bind);
        break;
    }
    // Pieces of 1 to 32 bytes, each after its size byte.
    std::vector<std::pair<size_t, size_t>> pieces;
    std::vector<uint8_t> replies;
    for (size_t at = 1; at < size;) {
        const size_t piece = 1 + (data[at] & 31);
        ++at;
        const size_t n = piece < size - at ? piece : size - at;
        pieces.emplace_back(at, n);
        replies.insert(replies.end(), data + at, data + at + n);
        at += n;
    }
    if (pick % 3 == 2 && bind) {
        for (size_t i = 0; i + 3 < replies.size(); ++i) {
            if (replies[i] == 5 && replies[i + 1] == 0 && replies[i + 3] == 3)
                return 0;
        }
    }
    KV_Stream in;
    KV_Stream out;
    bool done = false;
    bool ok = proxy->process_out(nullptr, out, done);
    for (size_t p = 0; ok && !done && p < pieces.size(); ++p) {
        in.append(data + pieces[p].first, static_cast<uint32_t>(pieces[p].second));
        const uint32_t before = in.length();
        ok = proxy->process_in(nullptr, in, out, done);
        if (in.length() > before)
            std::abort();
        if (ok && !done)
            ok = proxy->process_out(nullptr, out, done);
    }
    return 0;
}
