// An IPv4 socket address with the text it was set from.
//
// Every network address of the engine is one of these: the destination of a
// connection, the local address of a listener, the peer of an accepted
// connection, the server's data address of a passive FTP transfer (which the
// copy sub-log keeps in memory for a direct server-to-server copy). The text
// forms below are what the session logs and the FTP PORT command show.
//
// Threads: a plain value; one thread at a time per object. set_addr and
// as_str(KV_IADDR_HOST) block the calling thread for a name lookup.
#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>

#include "foundation/kv_port.h"
#include "foundation/kv_string.h"

// Text form of an address (KV_InetAddr::as_str).
enum KV_IADDR_FORM : uint32_t {
    KV_IADDR_HOST = 0,      // the host name found by a reverse lookup, or the dotted address
    KV_IADDR_FTP = 1,       // "a,b,c,d,h,l": the argument of an FTP PORT command
    KV_IADDR_LONG = 2,      // "host [ ip: a.b.c.d , port: p ]" for the session log
    KV_IADDR_ADDR_PORT = 3, // "a.b.c.d:p"
};

class KV_InetAddr
{
public:
    // Address 0, port 0: not valid.
    KV_InetAddr();
    // set_addr(host), whose result is not kept (an address that cannot be
    // resolved stays 0 and the object is not valid); then, when host carried
    // no port of its own, `port`.
    KV_InetAddr(const KV_String& host, const KV_Port& port);
    KV_InetAddr(const KV_InetAddr&) = default;
    KV_InetAddr& operator=(const KV_InetAddr&) = default;

    // Takes the address from s: "a.b.c.d" as it is, anything else through a
    // name lookup (first IPv4 address); "...:port" also sets the port, unless
    // it is 0 or empty. The text is kept as host(). False, with the address
    // unchanged, when the name does not resolve, when the dotted form is not a
    // valid address (255.255.255.255 is refused), or when the port is not a
    // decimal number up to 65535 (then the port is unchanged too).
    bool set_addr(const KV_String& s);
    // Always true.
    bool set_port(const KV_Port& port);
    // Takes an address a system call filled in. False, with nothing changed,
    // unless it is an IPv4 address.
    bool set_sockaddr(const sockaddr* sa, socklen_t len);

    KV_Port port() const;
    // The address in host byte order: a.b.c.d gives a << 24 | b << 16 | c << 8 | d.
    uint32_t as_num() const;
    // Address and port both non-zero.
    bool valid() const;
    // The text the address was last set from, as given.
    const KV_String& host() const { return host_; }

    // For socket calls.
    socklen_t size() const { return sizeof(sa_); }
    operator const sockaddr*() const { return reinterpret_cast<const sockaddr*>(&sa_); }

    // The dotted address.
    operator KV_String() const;
    // Family, port and address; host() is not compared.
    bool operator==(const KV_InetAddr& other) const;
    bool operator!=(const KV_InetAddr& other) const { return !(*this == other); }
    // Same address, whatever the ports.
    bool same_host(const KV_InetAddr& other) const;
    // The forms of KV_IADDR_FORM; any other value gives the empty string.
    KV_String as_str(KV_IADDR_FORM form) const;

    // The host and the port of "host[:port]", each trimmed of blanks, with
    // no lookup: for a destination that someone else resolves (a SOCKS5
    // proxy). The port is 0 when none is given. False when the port is not a
    // decimal number up to 65535 (host and port are unchanged then).
    static bool split(const KV_String& s, KV_String& host, KV_Port& port);
    // b3 << 24 | b2 << 16 | b1 << 8 | b0.
    static uint32_t ip_as_num(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);
    // "%u.%u.%u.%u" of n's bytes from the highest to the lowest.
    static KV_String num_as_ip(uint32_t n);
    // The port of a named service ("ftp", "tcp") from the system's service
    // database; 0 when it is unknown.
    static KV_Port get_port(const char* service, const char* proto);

private:
    sockaddr_in sa_;
    KV_String host_;
};
