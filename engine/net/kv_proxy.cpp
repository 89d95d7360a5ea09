#include "net/kv_proxy.h"

#include <arpa/inet.h>
#include <cstring>
#include <new>

#include "foundation/kv_informer.h"
#include "foundation/kv_le.h"
#include "foundation/kv_msg.h"
#include "net/kv_comm.h"
#include "net/kv_httphdr.h"
#include "net/kv_session.h"
#include "requests/kv_sessinfo.h"

namespace {

// An IPv4 address and port as they come off the wire (host order here).
KV_InetAddr ipv4(uint32_t ip, uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(ip);
    sa.sin_port = htons(port);
    KV_InetAddr a;
    a.set_sockaddr(reinterpret_cast<const sockaddr*>(&sa), sizeof(sa));
    return a;
}

// The status code of an HTTP status line "HTTP/<d>.<d> <ddd>[ reason]".
bool parse_status(const KV_String& l, uint32_t& code)
{
    const char* p = l.data();
    if (std::strncmp(p, "HTTP/", 5) != 0)
        return false;
    p += 5;
    auto digits = [&p](uint32_t max_len) {
        uint32_t n = 0;
        while (*p >= '0' && *p <= '9' && n < max_len) {
            ++p;
            ++n;
        }
        return n;
    };
    if (digits(9) == 0 || *p++ != '.' || digits(9) == 0 || *p != ' ')
        return false;
    while (*p == ' ')
        ++p;
    const char* c = p;
    if (digits(3) != 3 || (*p != '\0' && *p != ' '))
        return false;
    code = static_cast<uint32_t>((c[0] - '0') * 100 + (c[1] - '0') * 10 + (c[2] - '0'));
    return true;
}

// A name out of a reply for the log: control bytes become '?'.
KV_String printable(const KV_Stream& in, uint32_t from, uint32_t n)
{
    KV_String s;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t c = in.at(from + i);
        s += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    }
    return s;
}

const char* const SOCKS5_MALFORMED = "SOCKS5 - ERROR ( malformed reply )";

} // namespace

// ---------------------------------------------------------------------------
// KV_Proxy

KV_Proxy::KV_Proxy(KV_CommBase* comm, const KV_String& dst, const KV_LoginData& login)
    : comm(comm), dst(dst), login(login)
{
}

KV_Proxy::~KV_Proxy() = default;

void KV_Proxy::log(KV_SESS_LOG kind, const KV_String& text, bool err) const
{
    KV_Informer* informer = comm ? comm->informer() : nullptr;
    if (informer)
        informer->send(new (std::nothrow)
                           KV_MsgSessLog(comm->tavo_id(), KV_SessLogInfo(kind, text, err)));
}

void KV_Proxy::bound(KV_Session* sess, KV_InetAddr addr)
{
    if (addr.as_num() == 0 && sess) {
        const KV_Port port = addr.port();
        addr = sess->addr();
        addr.set_port(port);
    }
    if (comm) {
        comm->set_local_addr(addr);
        comm->set_ready();
    }
}

// ---------------------------------------------------------------------------
// KV_ProxyHttp

KV_ProxyHttp::KV_ProxyHttp(KV_CommBase* comm, const KV_String& dst, const KV_LoginData& login)
    : KV_Proxy(comm, dst, login)
{
}

KV_ProxyHttp::~KV_ProxyHttp() = default;

bool KV_ProxyHttp::process_out(KV_Session*, KV_Stream& out, bool&)
{
    if (sent)
        return true;
    sent = true;
    KV_HttpHdr hdr;
    bool ok = hdr.add_connect(dst, KV_HttpVer(1, 0));
    if (ok && !login.empty())
        ok = hdr.add(new (std::nothrow) KV_HttpHdrProxyAuth(login.user(), login.pass()));
    const KV_String text = ok ? hdr.as_str(comm) : KV_String();
    return !text.empty() &&
           out.append(reinterpret_cast<const unsigned char*>(text.data()), text.length());
}

bool KV_ProxyHttp::process_in(KV_Session*, KV_Stream& in, KV_Stream&, bool& done)
{
    bool ok = true;
    while (ok && !done && sent && !in.empty()) {
        uint32_t lf = 0;
        const bool complete = in.find('\n', lf);
        const uint32_t take = complete ? lf + 1 : in.length();
        if (take > MAX_HEAD - head_len || line.length() + take > MAX_LINE + 2) {
            log(KV_SESS_LOG_RECV, "HTTP proxy reply too long", true);
            return false;
        }
        head_len += take;
        for (uint32_t i = 0; i < take; ++i) {
            const char c = static_cast<char>(in.at(i));
            if (c != '\r' && c != '\n')
                line += c;
        }
        if (!in.remove(take))
            return false;
        if (complete)
            ok = take_line(done);
    }
    return ok;
}

bool KV_ProxyHttp::take_line(bool& done)
{
    const KV_String l = line;
    line.clear();
    if (l.empty()) {
        // The end of a reply head.
        uint32_t code = 0;
        if (status.empty() || !parse_status(status, code))
            return false;
        if (code < 200) {
            // An interim reply: the real one follows.
            status.clear();
            return true;
        }
        done = true;
        return true;
    }
    if (!status.empty()) {
        log(KV_SESS_LOG_RECV, l, false);
        return true;
    }
    status = l;
    uint32_t code = 0;
    // Anything but a 1xx or 2xx status refuses the tunnel: the session ends
    // here with the proxy's status line, instead of waiting for the proxy to
    // hang up.
    const bool good = parse_status(l, code) && code >= 100 && code <= 299;
    log(KV_SESS_LOG_RECV, l, !good);
    return good;
}

// ---------------------------------------------------------------------------
// KV_ProxySocks4

KV_ProxySocks4::KV_ProxySocks4(KV_CommBase* comm, const KV_String& dst, const KV_LoginData& login,
                               bool bind)
    : KV_Proxy(comm, dst, login), bind(bind)
{
}

KV_ProxySocks4::~KV_ProxySocks4() = default;

bool KV_ProxySocks4::process_out(KV_Session*, KV_Stream& out, bool&)
{
    if (sent)
        return true;
    sent = true;
    first_reply = false;
    const KV_InetAddr a(dst, KV_Port(0));
    const KV_String text = KV_String::format_impl("SOCKS4 - %s ( %s )", bind ? "BIND" : "CONNECT",
                                                  a.as_str(KV_IADDR_LONG).data());
    // SOCKS4 carries only an address: a name that does not resolve must not
    // become 0.0.0.0, which the proxy would take literally.
    if (!a.valid()) {
        log(KV_SESS_LOG_NOTICE, text, true);
        return false;
    }
    unsigned char req[8];
    req[0] = 0x04;
    req[1] = bind ? 0x02 : 0x01;
    kv_put_be(req + 2, static_cast<uint16_t>(a.port()));
    kv_put_be(req + 4, a.as_num());
    const unsigned char nul = 0;
    const KV_String& user = login.user();
    if (!out.append(req, sizeof(req)) ||
        !out.append(reinterpret_cast<const unsigned char*>(user.data()), user.length()) ||
        !out.append(&nul, 1))
        return false;
    log(KV_SESS_LOG_SENT, text, false);
    return true;
}

bool KV_ProxySocks4::process_in(KV_Session* sess, KV_Stream& in, KV_Stream&, bool& done)
{
    while (sent && !done && in.length() >= 8) {
        unsigned char rep[8];
        in.read(rep, sizeof(rep));
        const uint8_t cd = rep[1];
        const KV_InetAddr a = ipv4(kv_get_be<uint32_t>(rep + 4), kv_get_be<uint16_t>(rep + 2));
        // Both replies of a BIND must grant: the second one tells whether
        // the server's connection was let through.
        const bool good = cd == 0x5A;
        log(KV_SESS_LOG_RECV,
            good ? KV_String::format_impl("SOCKS4 - OK ( code: %u, address: %s )", cd,
                                          a.as_str(KV_IADDR_ADDR_PORT).data())
                 : KV_String::format_impl("SOCKS4 - ERROR ( code: %u )", cd),
            !good);
        if (!good)
            return false;
        if (!bind || first_reply) {
            done = true;
        } else {
            bound(sess, a);
            first_reply = true;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// KV_ProxySocks5

KV_ProxySocks5::KV_ProxySocks5(KV_CommBase* comm, const KV_String& dst, const KV_LoginData& login,
                               bool bind)
    : KV_Proxy(comm, dst, login), bind(bind)
{
}

KV_ProxySocks5::~KV_ProxySocks5() = default;

bool KV_ProxySocks5::process_out(KV_Session*, KV_Stream& out, bool&)
{
    if (!greeted) {
        greeted = true;
        method = -1;
        auth_done = login.empty();
        // The login goes out with one-byte lengths: a longer name or
        // password would be cut and sent as some other one.
        if (!login.empty() && (login.user().length() > 255 || login.pass().length() > 255)) {
            log(KV_SESS_LOG_NOTICE,
                "SOCKS5 - ERROR ( user name or password longer than 255 bytes )", true);
            return false;
        }
        const unsigned char offer[3] = {0x05, 0x01,
                                        static_cast<unsigned char>(login.empty() ? 0x00 : 0x02)};
        return out.append(offer, sizeof(offer));
    }
    // Nothing more before the proxy has chosen a method.
    if (method < 0)
        return true;
    if (!auth_done) {
        if (auth_sent)
            return true;
        auth_sent = true;
        const KV_String& user = login.user();
        const KV_String& pass = login.pass();
        const unsigned char ver = 0x01;
        const auto ulen = static_cast<unsigned char>(user.length());
        const auto plen = static_cast<unsigned char>(pass.length());
        return out.append(&ver, 1) && out.append(&ulen, 1) &&
               out.append(reinterpret_cast<const unsigned char*>(user.data()), user.length()) &&
               out.append(&plen, 1) &&
               out.append(reinterpret_cast<const unsigned char*>(pass.data()), pass.length());
    }
    if (req_sent)
        return true;
    req_sent = true;
    first_reply = false;
    // The proxy resolves the name (ATYP 3): looking it up here as well would
    // tell the local resolver, and whoever watches it, where the connection
    // goes. The log shows the name as sent.
    KV_String name;
    KV_Port port;
    const bool parsed = KV_InetAddr::split(dst, name, port);
    const KV_String text =
        KV_String::format_impl("SOCKS5 - %s ( %s:%u )", bind ? "BIND" : "CONNECT", name.data(),
                               static_cast<unsigned>(static_cast<uint16_t>(port)));
    if (!parsed || name.empty() || name.length() > 255 || port == 0) {
        log(KV_SESS_LOG_NOTICE, text, true);
        return false;
    }
    unsigned char head[5] = {0x05, static_cast<unsigned char>(bind ? 0x02 : 0x01), 0x00, 0x03,
                             static_cast<unsigned char>(name.length())};
    unsigned char port_be[2];
    kv_put_be(port_be, static_cast<uint16_t>(port));
    if (!out.append(head, sizeof(head)) ||
        !out.append(reinterpret_cast<const unsigned char*>(name.data()), name.length()) ||
        !out.append(port_be, sizeof(port_be)))
        return false;
    log(KV_SESS_LOG_SENT, text, false);
    return true;
}

bool KV_ProxySocks5::process_in(KV_Session* sess, KV_Stream& in, KV_Stream&, bool& done)
{
    while (greeted && !done) {
        if (method < 0) {
            if (in.length() < 2)
                return true;
            const uint8_t ver = in.at(0);
            const uint8_t m = in.at(1);
            in.remove(2);
            // Only the one method offered may be chosen (0xFF: none was
            // acceptable).
            const uint8_t offered = login.empty() ? 0x00 : 0x02;
            if (ver != 0x05 || m != offered) {
                log(KV_SESS_LOG_RECV, KV_String::format_impl("SOCKS5 - ERROR ( method: %u )", m),
                    true);
                return false;
            }
            method = m;
            continue;
        }
        if (!auth_done) {
            if (!auth_sent || in.length() < 2)
                return true;
            const uint8_t status = in.at(1);
            in.remove(2);
            auth_done = true;
            if (status != 0) {
                log(KV_SESS_LOG_RECV,
                    KV_String::format_impl("SOCKS5 - AUTHENTICATION ERROR ( code: %u )", status),
                    true);
                return false;
            }
            continue;
        }
        if (!req_sent)
            return true;
        const uint32_t before = in.length();
        if (!take_reply(sess, in, done))
            return false;
        if (in.length() == before)
            return true; // not complete yet
    }
    return true;
}

bool KV_ProxySocks5::take_reply(KV_Session* sess, KV_Stream& in, bool& done)
{
    if (in.length() < 5)
        return true;
    const uint8_t ver = in.at(0);
    const uint8_t rep = in.at(1);
    const uint8_t atyp = in.at(3);
    uint32_t need;
    switch (atyp) {
    case 0x01:
        need = 4 + 4 + 2;
        break;
    case 0x03:
        need = 5 + in.at(4) + 2;
        break;
    case 0x04:
        need = 4 + 16 + 2;
        break;
    default:
        log(KV_SESS_LOG_RECV, SOCKS5_MALFORMED, true);
        return false;
    }
    if (ver != 0x05 || (atyp == 0x03 && in.at(4) == 0)) {
        log(KV_SESS_LOG_RECV, SOCKS5_MALFORMED, true);
        return false;
    }
    if (in.length() < need)
        return true;

    const uint16_t port = static_cast<uint16_t>(in.at(need - 2) << 8 | in.at(need - 1));
    KV_InetAddr addr;
    KV_String shown;
    KV_String name;
    if (atyp == 0x01) {
        const uint32_t ip = uint32_t(in.at(4)) << 24 | uint32_t(in.at(5)) << 16 |
                            uint32_t(in.at(6)) << 8 | in.at(7);
        addr = ipv4(ip, port);
        shown = addr.as_str(KV_IADDR_ADDR_PORT);
    } else if (atyp == 0x03) {
        name = printable(in, 5, in.at(4));
        shown = KV_String::format_impl("%s:%u", name.data(), port);
    } else {
        unsigned char v6[16];
        for (uint32_t i = 0; i < 16; ++i)
            v6[i] = in.at(4 + i);
        char text[INET6_ADDRSTRLEN] = "";
        inet_ntop(AF_INET6, v6, text, sizeof(text));
        shown = KV_String::format_impl("[%s]:%u", text, port);
    }
    in.remove(need);

    // Both replies of a BIND must grant.
    const bool good = rep == 0x00;
    log(KV_SESS_LOG_RECV,
        good ? KV_String::format_impl("SOCKS5 - OK ( code: %u, address: %s )", rep, shown.data())
             : KV_String::format_impl("SOCKS5 - ERROR ( code: %u )", rep),
        !good);
    if (!good)
        return false;
    if (!bind || first_reply) {
        done = true;
        return true;
    }
    // The address announced to the server must be one it can reach over
    // IPv4 (the FTP PORT command). Only this reply needs a name resolved.
    if (atyp == 0x03)
        addr = KV_InetAddr(name, KV_Port(port));
    if (atyp == 0x04 || (atyp == 0x03 && addr.as_num() == 0)) {
        log(KV_SESS_LOG_RECV, SOCKS5_MALFORMED, true);
        return false;
    }
    bound(sess, addr);
    first_reply = true;
    return true;
}
