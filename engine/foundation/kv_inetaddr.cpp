#include "foundation/kv_inetaddr.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <netdb.h>

namespace {

// The port part of "host:port": empty or 0 keeps the port; digits only,
// at most 65535. A longer run of digits is refused rather than cut, so that
// "host:65557" never silently becomes port 21.
bool parse_port(const KV_String& text, uint16_t& port)
{
    port = 0;
    const KV_String t = text.trim();
    uint32_t value = 0;
    for (uint32_t i = 0; i < t.length(); ++i) {
        const char c = t.data(i);
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
        if (value > 0xFFFF)
            return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

// Whether t reads as four numbers "%u.%u.%u.%u": such a text is an address
// and is never looked up as a name.
bool looks_dotted(const char* t)
{
    unsigned a, b, c, d;
    return std::sscanf(t, "%u.%u.%u.%u", &a, &b, &c, &d) == 4;
}

} // namespace

KV_InetAddr::KV_InetAddr()
{
    std::memset(&sa_, 0, sizeof(sa_));
    sa_.sin_family = AF_INET;
}

KV_InetAddr::KV_InetAddr(const KV_String& host, const KV_Port& port) : KV_InetAddr()
{
    set_addr(host);
    if (this->port() == 0)
        set_port(port);
}

bool KV_InetAddr::set_addr(const KV_String& s)
{
    host_ = s;
    KV_String t = s.trim();
    uint32_t colon = 0;
    if (t.contains(':', 0, &colon)) {
        uint16_t p = 0;
        if (!parse_port(t.part(colon + 1, t.length()), p))
            return false;
        if (p != 0)
            set_port(p);
        t = t.part(0, colon).trim();
    }

    in_addr addr{};
    if (looks_dotted(t.data())) {
        if (inet_pton(AF_INET, t.data(), &addr) != 1 || addr.s_addr == INADDR_NONE)
            return false;
        sa_.sin_addr = addr;
        return true;
    }
    if (t.empty())
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(t.data(), nullptr, &hints, &found) != 0 || !found)
        return false;
    bool ok = false;
    for (const addrinfo* ai = found; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
            sa_.sin_addr = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr;
            ok = true;
            break;
        }
    }
    freeaddrinfo(found);
    return ok;
}

bool KV_InetAddr::set_port(const KV_Port& port)
{
    sa_.sin_port = htons(static_cast<uint16_t>(port));
    return true;
}

bool KV_InetAddr::set_sockaddr(const sockaddr* sa, socklen_t len)
{
    if (!sa || len < static_cast<socklen_t>(sizeof(sockaddr_in)) || sa->sa_family != AF_INET)
        return false;
    std::memcpy(&sa_, sa, sizeof(sa_));
    std::memset(sa_.sin_zero, 0, sizeof(sa_.sin_zero));
    return true;
}

KV_Port KV_InetAddr::port() const
{
    return KV_Port(ntohs(sa_.sin_port));
}

uint32_t KV_InetAddr::as_num() const
{
    return ntohl(sa_.sin_addr.s_addr);
}

bool KV_InetAddr::valid() const
{
    return sa_.sin_addr.s_addr != 0 && sa_.sin_port != 0;
}

KV_InetAddr::operator KV_String() const
{
    char text[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &sa_.sin_addr, text, sizeof(text)))
        return KV_String("Invalid address.");
    return KV_String(text);
}

bool KV_InetAddr::operator==(const KV_InetAddr& other) const
{
    return std::memcmp(&sa_, &other.sa_, sizeof(sa_)) == 0;
}

bool KV_InetAddr::same_host(const KV_InetAddr& other) const
{
    return sa_.sin_addr.s_addr == other.sa_.sin_addr.s_addr;
}

KV_String KV_InetAddr::as_str(KV_IADDR_FORM form) const
{
    switch (form) {
    case KV_IADDR_HOST: {
        char name[NI_MAXHOST];
        if (getnameinfo(*this, size(), name, sizeof(name), nullptr, 0, NI_NAMEREQD) == 0)
            return KV_String(name);
        return KV_String(*this);
    }
    case KV_IADDR_FTP:
        return KV_String(*this).convert(".", ',') + "," + port().as_ftp_def();
    case KV_IADDR_LONG:
        return KV_String::format_impl("%s [ ip: %s , port: %s ]", host_.data(),
                                      valid() ? KV_String(*this).data() : "???",
                                      KV_String(port()).data());
    case KV_IADDR_ADDR_PORT:
        return KV_String::format_impl("%s:%s", KV_String(*this).data(), KV_String(port()).data());
    }
    return KV_String();
}

bool KV_InetAddr::split(const KV_String& s, KV_String& host, KV_Port& port)
{
    KV_String t = s.trim();
    uint16_t p = 0;
    uint32_t colon = 0;
    if (t.contains(':', 0, &colon)) {
        if (!parse_port(t.part(colon + 1, t.length()), p))
            return false;
        t = t.part(0, colon).trim();
    }
    host = t;
    port = p;
    return true;
}

uint32_t KV_InetAddr::ip_as_num(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    return uint32_t(b3) << 24 | uint32_t(b2) << 16 | uint32_t(b1) << 8 | b0;
}

KV_String KV_InetAddr::num_as_ip(uint32_t n)
{
    return KV_String::format_impl("%u.%u.%u.%u", n >> 24, (n >> 16) & 0xFF, (n >> 8) & 0xFF,
                                  n & 0xFF);
}

KV_Port KV_InetAddr::get_port(const char* service, const char* proto)
{
    if (!service)
        return KV_Port();
    servent entry;
    servent* found = nullptr;
    char buf[1024];
    if (getservbyname_r(service, proto, &entry, buf, sizeof(buf), &found) != 0 || !found)
        return KV_Port();
    return KV_Port(ntohs(static_cast<uint16_t>(found->s_port)));
}
